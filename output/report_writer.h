#pragma once
// The user's static report: the index page and four pages per album, in the user folder. Pages are GBK
// with "\r\n" line breaks and no charset; each is built in memory and replaces its file atomically.
#include <functional>
#include <string>
#include <string_view>

#include "catalogue/album_catalogue.h"

// The index page's path: named after the user folder, USER/USER_index.htm.
std::string IndexPagePath(const std::string& userFolder);
// The path of an album's page of one size, USER/ALBUMID_SIZE.htm.
std::string AlbumPagePath(const std::string& userFolder, std::string_view albumId, int sizeIndex);

// The outcome of writing pages: empty when every page was written, else the page that was not and the
// system's error number. A page that fails stops the pages after it.
struct PageWrite {
    std::string failedPath;
    int error = 0;
    bool ok() const { return failedPath.empty(); }
};

// Writes the user's index page into userFolder. Every service text in it is escaped for HTML; an
// album whose id cannot name a file is listed without links.
PageWrite WriteIndexPage(const AlbumCatalogue& catalogue, const std::string& userFolder);

// The address a page links for a photo's picture of a size: a local copy's path relative to the user
// folder, or an empty text for the service's address.
using LocalPictureLink = std::function<std::string(std::string_view photoId, int sizeIndex)>;

// Writes the album's four report pages into userFolder (nothing for an id unfit as a file name), with
// the photo fields escaped for HTML and the album's listed photos only.
PageWrite WriteAlbumPages(const AlbumInfo& album, const std::string& userFolder, const std::string& templ,
                          const LocalPictureLink& localLink = {});
