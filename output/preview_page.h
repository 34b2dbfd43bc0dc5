#pragma once
// The preview page: the link list of one album in one page, with the clip() script that the
// preview format's double click calls.
#include <string>

#include "catalogue/album_catalogue.h"

// The page text (GBK). An album index outside 0..albumCount-1 gives the page with an empty list.
std::string BuildPreviewPage(const AlbumCatalogue& catalogue, int albumIndex, int sizeIndex,
                             const std::string& outputTemplate, bool copyAlert);

// Writes the page as temp.htm into the output folder; returns the file's full path, or an empty text
// when it cannot be written.
std::string WritePreviewFile(const std::string& outputPath, const std::string& page);
