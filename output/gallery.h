#pragma once
// The offline gallery of one user, built from the ledger and the stored pictures, in USER/gallery:
// index.html (the albums), album-ALBUMID.html (one per album), gallery.css and gallery.js (compiled in
// from res/gallery), search.js (the search index: a script, as pages opened from file:// may not fetch
// files) and thumbs/ (made where the small size is not stored). OUTPUT/index.html lists every user's
// gallery. Pages are UTF-8 and link relatively, so a gallery can be moved or copied.
#include <string>
#include <string_view>

class Ledger;

// What a build did.
struct GalleryBuild {
    std::string failure;     // GBK; empty when every file was written
    bool unchanged = false;  // the ledger is as the last build left it: nothing was rebuilt
    int filesWritten = 0;    // pages and files whose content changed (OUTPUT/index.html included)
    int thumbnailsMade = 0;
    int thumbnailsFailed = 0;  // pictures libvips could not read: the picture itself stands in
    int dimensionsRead = 0;    // pictures whose dimensions were read and recorded in the ledger
    bool ok() const { return failure.empty(); }
};

// USER/gallery.
std::string GalleryFolder(std::string_view userFolder);

// Brings USER/gallery up to date with the ledger (`userName` GBK) and rewrites OUTPUT/index.html,
// OUTPUT being the folder that holds userFolder. Only files whose content changed are written; when
// the ledger has not changed since the last build, nothing is read but the ledger's stamp. Dimensions
// the ledger lacks are read from the pictures' headers and recorded in it.
GalleryBuild BuildGallery(const std::string& userFolder, const std::string& userName, Ledger& ledger);

// Writes OUTPUT/index.html, a link to every OUTPUT/*/gallery/index.html. `*written` (when given) is
// raised when the file changed. Empty, or the failure text (GBK).
std::string WriteGalleryList(const std::string& outputFolder, int* written = nullptr);
