// ExpandTemplate and BuildLinkList on arbitrary templates and photo fields.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "catalogue/album_catalogue.h"
#include "fuzz_check.h"
#include "output/link_format.h"

namespace {

// Takes the text up to the next NUL byte (or the end) from the input.
std::string_view Next(std::string_view& input) {
    const size_t end = input.find('\0');
    const std::string_view piece = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static AlbumCatalogue* catalogue = new AlbumCatalogue;
    if (size < 2) return 0;
    // The first byte chooses the size index (-2..5), the photo count (0..7) and how many of those the
    // photo list left unfilled (0..3).
    const int sizeIndex = static_cast<int>(data[0] % 8) - 2;
    const int photoCount = (data[0] >> 3) % 8;
    const int listed = std::max(photoCount - (data[0] >> 6), 0);
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string templ(Next(input));

    AlbumInfo& album = catalogue->albums[0];
    album.photoCount = photoCount;
    album.listedCount = listed;
    for (int i = 0; i < photoCount; ++i) {
        PhotoInfo& photo = album.photos[i];
        photo.url = Next(input);
        photo.title = Next(input);
        photo.description = Next(input);
        photo.secret = Next(input);
    }

    const std::string list = BuildLinkList(album, templ, sizeIndex);
    FUZZ_CHECK(listed > 0 || list.empty());
    if (templ.find('$') == std::string::npos) {
        std::string repeated;
        for (int i = 0; i < listed; ++i) repeated += templ + "<br>\r\n";
        FUZZ_CHECK(list == repeated);
    }
    if (listed > 0) {
        const std::string one = ExpandTemplate(album.photos[0], templ, sizeIndex);
        FUZZ_CHECK(list.starts_with(one.substr(0, one.find("$no"))));
        if (templ.find("$url") != std::string::npos && (sizeIndex < 0 || sizeIndex >= SizeCount))
            FUZZ_CHECK(PictureAddress(album.photos[0].url.view(), sizeIndex).empty());
    }
    album.photos.Clear();
    return 0;
}
