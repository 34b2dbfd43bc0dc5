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

    // The template with "$url" (in the size given, 0 to 3), "$title", "$description" and "$secret"
    // replaced, in that order; "$no" stays.
    std::string ExpandTemplate(const std::string& templ, int sizeIndex) const;

    void Clear();
};

struct AlbumInfo {
    CompactText id;               // bytes
    CompactText title;            // GBK
    int photoCount = 0;           // as the album list announces it, 0 to MaxPhotosPerAlbum
    PhotoInfo* photos = nullptr;  // MaxPhotosPerAlbum records of the catalogue's photo table

    // The link list of the album's photos: each expansion with "$no" replaced by its position,
    // followed by "<br>\r\n".
    std::string BuildLinkList(const std::string& templ, int sizeIndex) const;

    // Writes the album's four report pages into userFolder (nothing for an id unfit as a file name).
    void WriteAlbumPages(const std::string& userFolder, const std::string& templ) const;

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

    // Writes the user's index page into userFolder; the file is named after the folder.
    void WriteIndexPage(const std::string& userFolder) const;
};
