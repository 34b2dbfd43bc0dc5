#include "catalogue/album_catalogue.h"

#include <sys/mman.h>

#include <new>

void PhotoInfo::Clear() {
    id.Clear();
    description.Clear();
    title.Clear();
    url.Clear();
    secret.Clear();
}

void AlbumInfo::Clear() {
    id.Clear();
    title.Clear();
    photoCount = 0;
    if (!photos) return;
    for (int i = 0; i < MaxPhotosPerAlbum; ++i) photos[i].Clear();
}

AlbumCatalogue::PhotoTable::PhotoTable() : bytes_(sizeof(PhotoInfo) * MaxAlbums * MaxPhotosPerAlbum) {
    void* block = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    ::madvise(block, bytes_, MADV_HUGEPAGE);  // a hint; without it the table works the same
    records_ = static_cast<PhotoInfo*>(block);
    for (size_t i = 0; i < static_cast<size_t>(MaxAlbums) * MaxPhotosPerAlbum; ++i)
        new (&records_[i]) PhotoInfo();
}

AlbumCatalogue::PhotoTable::~PhotoTable() {
    for (size_t i = 0; i < static_cast<size_t>(MaxAlbums) * MaxPhotosPerAlbum; ++i) records_[i].~PhotoInfo();
    ::munmap(records_, bytes_);
}

AlbumCatalogue::AlbumCatalogue() : albums(new AlbumInfo[MaxAlbums]) {
    for (int i = 0; i < MaxAlbums; ++i) albums[i].photos = photoTable_.records() + i * MaxPhotosPerAlbum;
}

AlbumCatalogue::~AlbumCatalogue() {
    albumCount = 0;
    photoTotal = 0;
}
