#pragma once
// XMP sidecars for photo tools (digiKam, darktable, Lightroom and others read them beside a picture):
// USER/pictures/SIZE/PHOTOID.jpg.xmp for every stored picture, holding the photo's title
// (dc:title), description (dc:description), each album that lists it as a keyword (dc:subject, and
// lr:hierarchicalSubject "Zorbi|USER|ALBUM") and the service's photo id (dc:identifier). The pictures
// themselves are never touched.
#include <string>
#include <string_view>
#include <vector>

class Ledger;

struct SidecarWrite {
    std::string failure;  // GBK; empty when every sidecar is there
    int written = 0;      // sidecars made or whose text changed
    int unchanged = 0;
    bool ok() const { return failure.empty(); }
};

// The sidecar of one photo. Texts are UTF-8; empty ones are left out.
std::string SidecarText(std::string_view photoId, std::string_view title, std::string_view description,
                        const std::vector<std::string>& albumTitles, std::string_view userName);

// Writes the sidecar of every stored picture of the user (`userName` GBK) from the ledger, replacing
// only those whose text changed. The first file that cannot be written ends the run.
SidecarWrite WriteSidecars(const std::string& userFolder, const std::string& userName, Ledger& ledger);
