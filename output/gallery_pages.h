#pragma once
// The texts of the gallery's pages, built in memory from what BuildGallery gathered. Pages are UTF-8
// HTML5; every service text is escaped for where it lands (text, attribute, address, script string).
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ledger.h"
#include "output/image_files.h"
#include "output/link_format.h"

// One photo as an album page shows it. Addresses are relative to the gallery folder, or the service's.
struct GalleryPhoto {
    const LedgerPhoto* photo = nullptr;
    std::string removedDate;  // local YYYY-MM-DD when the service removed it
    bool backedUp = false;    // a picture of it is stored
    std::string thumb;        // the grid's picture; empty when there is none at all
    ImageSize thumbSize;
    std::string srcset;                        // "URL WIDTHw, ..." over the pictures of known width
    std::string full;                          // the lightbox's picture
    std::array<std::string, SizeCount> sizes;  // each size's address, empty when it has none
};

struct GalleryAlbum {
    const LedgerAlbum* album = nullptr;
    std::string page;         // "album-ID.html" as a link; empty for an id that cannot name a file
    std::string removedDate;  // local YYYY-MM-DD when the service removed it
    std::vector<GalleryPhoto> photos;
};

// "album-ID.html", the file name of an album's page; empty for an id that fails IsSafeFileId.
std::string AlbumPageName(std::string_view albumId);

// The local date of a ledger time ("YYYY-MM-DDTHH:MM:SSZ"), as YYYY-MM-DD; empty when it is none.
std::string LocalDate(std::string_view utcTime);

// A service address as a page may link it: http or https only, with the bytes an address cannot hold
// percent-encoded; empty for anything else.
std::string ServiceAddress(std::string_view address);

// index.html: the user's albums as a grid of covers. `userName` is UTF-8.
std::string UserPage(std::string_view userName, const std::vector<GalleryAlbum>& albums);
// album-ID.html: the album's photos, opened in the lightbox.
std::string AlbumPage(std::string_view userName, const GalleryAlbum& album);
// search.js: every photo's title and description, for the search box of every page.
std::string SearchIndex(const std::vector<GalleryAlbum>& albums);
// OUTPUT/index.html: a link to each gallery, given the user folders' names (UTF-8).
std::string GalleryListPage(const std::vector<std::string>& userFolders);
