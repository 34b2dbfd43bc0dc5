#include "catalogue/album_catalogue.h"

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
    listedCount = 0;
    photos.Clear();
}

void AlbumCatalogue::ClearAlbums() {
    albumCount = 0;
    photoTotal = 0;
    albums.Clear();
}
