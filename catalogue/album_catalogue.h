#pragma once
// The catalogue of one Zorbi user: fixed tables of albums and photos, created once and overwritten in
// place by every load. An album is passed as its index, a photo as album index plus photo index.
#include <memory>
#include <string>

#include "catalogue/compact_text.h"

constexpr int MaxAlbums = 1024;
constexpr int MaxPhotosPerAlbum = 1024;

struct PhotoInfo {
    CompactText id;           // bytes of the service's answer
    CompactText description;  // GBK
    CompactText title;        // GBK
    CompactText url;          // picture host, "/", dir, "/", filename
    CompactText secret;       // bytes of the service's answer

    void Clear();
};

struct AlbumInfo {
    CompactText id;               // bytes
    CompactText title;            // GBK
    int photoCount = 0;           // as the album list announces it, 0 to MaxPhotosPerAlbum
    PhotoInfo* photos = nullptr;  // MaxPhotosPerAlbum records of the catalogue's photo table

    // Empties the record and every one of its photo records.
    void Clear();
};

struct AlbumCatalogue {
    int albumCount = 0;
    int photoTotal = 0;
    std::string userName;  // as chosen, then as the service spells it (bytes)
    std::string userId;
    std::unique_ptr<AlbumInfo[]> albums;

  private:
    // Every photo record of every album in one block: a million records are made at start-up, and
    // one block can be mapped in large pages instead of ten thousand small ones.
    class PhotoTable {
      public:
        PhotoTable();
        ~PhotoTable();
        PhotoInfo* records() const { return records_; }

      private:
        PhotoInfo* records_;
        size_t bytes_;
    };
    PhotoTable photoTable_;

  public:
    AlbumCatalogue();
    ~AlbumCatalogue();
    AlbumCatalogue(const AlbumCatalogue&) = delete;
    AlbumCatalogue& operator=(const AlbumCatalogue&) = delete;
};
