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

// The photo table is zero-filled mapped memory whose records are never constructed: an empty record
// must be all zero bytes, which holds while it is made of compact texts only.
static_assert(CompactText::ZeroIsEmpty() && sizeof(PhotoInfo) == 5 * sizeof(CompactText),
              "an empty PhotoInfo must be all zero bytes");

// The MaxPhotosPerAlbum photo records of one album in the catalogue's table. Writable access raises a
// high-water mark, so that emptying the album touches only the records that may hold something.
class PhotoRecords {
  public:
    PhotoRecords() = default;
    PhotoRecords(const PhotoRecords&) = delete;  // two marks over the same records would disagree
    PhotoRecords& operator=(const PhotoRecords&) = delete;

    PhotoInfo& operator[](int i) {
        if (i >= highWater_) highWater_ = i + 1;
        return records_[i];
    }
    const PhotoInfo& operator[](int i) const { return records_[i]; }

    // One past the highest record handed out for writing since the last Clear.
    int highWater() const { return highWater_; }
    // Empties the records below the mark.
    void Clear();

  private:
    friend struct AlbumCatalogue;
    PhotoInfo* records_ = nullptr;
    int highWater_ = 0;
};

struct AlbumInfo {
    CompactText id;       // bytes
    CompactText title;    // GBK
    int photoCount = 0;   // as the album list announces it, 0 to MaxPhotosPerAlbum
    int listedCount = 0;  // photo records the album's photo list filled, 0 to photoCount
    PhotoRecords photos;  // records of the catalogue's photo table

    // Empties the record and every photo record it may hold.
    void Clear();
};

struct AlbumCatalogue {
    int albumCount = 0;
    int photoTotal = 0;
    std::string userName;  // as chosen, then as the service spells it (bytes)
    std::string userId;
    std::unique_ptr<AlbumInfo[]> albums;

    // Empties every album and sets both counts to 0; the user stays.
    void ClearAlbums();

  private:
    // Every photo record of every album in one anonymous mapping: zero and free until written, so a
    // million empty records cost nothing.
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
