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

void PhotoRecords::Clear() {
    for (int i = 0; i < highWater_; ++i) records_[i].Clear();
    highWater_ = 0;
}

void AlbumInfo::Clear() {
    id.Clear();
    title.Clear();
    photoCount = 0;
    listedCount = 0;
    photos.Clear();
}

void AlbumCatalogue::ClearAlbums() {
    albumCount = 0;
    photoTotal = 0;
    for (int i = 0; i < MaxAlbums; ++i) albums[i].Clear();
}

AlbumCatalogue::PhotoTable::PhotoTable() : bytes_(sizeof(PhotoInfo) * MaxAlbums * MaxPhotosPerAlbum) {
    // Anonymous memory reads as zero, which is the empty record: no construction pass, and a page
    // costs memory only once a record in it is written.
    void* block = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    records_ = static_cast<PhotoInfo*>(block);
}

AlbumCatalogue::PhotoTable::~PhotoTable() {
    ::munmap(records_, bytes_);
}

AlbumCatalogue::AlbumCatalogue() : albums(new AlbumInfo[MaxAlbums]) {
    for (int i = 0; i < MaxAlbums; ++i)
        albums[i].photos.records_ = photoTable_.records() + i * MaxPhotosPerAlbum;
}

AlbumCatalogue::~AlbumCatalogue() {
    // The records are never destroyed one by one: their texts are released here, before the table
    // is unmapped.
    for (int i = 0; i < MaxAlbums; ++i) albums[i].photos.Clear();
}
