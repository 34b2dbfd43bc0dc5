#include "catalogue/album_catalogue.h"

void PhotoInfo::Clear() {
    id.Clear();
    description.Clear();
    title.Clear();
    url.Clear();
    secret.Clear();
}

AlbumInfo::AlbumInfo() : photos(new PhotoInfo[MaxPhotosPerAlbum]) {}

void AlbumInfo::Clear() {
    id.Clear();
    title.Clear();
    photoCount = 0;
    for (int i = 0; i < MaxPhotosPerAlbum; ++i) photos[i].Clear();
}

AlbumCatalogue::AlbumCatalogue() : albums(new AlbumInfo[MaxAlbums]) {}

AlbumCatalogue::~AlbumCatalogue() {
    albumCount = 0;
    photoTotal = 0;
}
