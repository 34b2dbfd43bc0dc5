#include "output/sidecars.h"

#include <algorithm>
#include <cerrno>
#include <exiv2/exiv2.hpp>
#include <map>
#include <mutex>

#include "archive/ledger.h"
#include "output/link_format.h"
#include "output/picture_files.h"
#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/text_format.h"

namespace {

void StartExiv2() {
    static std::once_flag started;
    std::call_once(started, [] {
        Exiv2::XmpParser::initialize();
        // Failures come back as results; nothing is printed on the terminal.
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    });
}

// XML cannot hold control characters other than tab and line breaks, not even as references.
std::string XmlSafe(std::string_view text) {
    std::string safe;
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r') safe += c;
    return safe;
}

// A level of a hierarchical keyword: "|" separates the levels.
std::string KeywordLevel(std::string_view text) {
    std::string level = XmlSafe(text);
    ReplaceAll(level, "|", "/");
    return level;
}

// What one photo's sidecar says, gathered over the albums that list it.
struct PhotoText {
    const LedgerPhoto* photo = nullptr;
    std::vector<std::string> albums;
};

}  // namespace

std::string SidecarText(std::string_view photoId, std::string_view title, std::string_view description,
                        const std::vector<std::string>& albumTitles, std::string_view userName) {
    StartExiv2();
    Exiv2::XmpData xmp;
    const auto langAlt = [&](const char* key, std::string_view text) {
        if (text.empty()) return;
        Exiv2::LangAltValue value;
        value.value_["x-default"] = XmlSafe(text);
        xmp.add(Exiv2::XmpKey(key), &value);
    };
    langAlt("Xmp.dc.title", title);
    langAlt("Xmp.dc.description", description);
    Exiv2::XmpArrayValue subjects(Exiv2::xmpBag), hierarchy(Exiv2::xmpBag);
    for (const std::string& album : albumTitles) {
        if (album.empty()) continue;
        subjects.read(XmlSafe(album));
        hierarchy.read("Zorbi|" + KeywordLevel(userName) + "|" + KeywordLevel(album));
    }
    if (subjects.count() > 0) {
        xmp.add(Exiv2::XmpKey("Xmp.dc.subject"), &subjects);
        xmp.add(Exiv2::XmpKey("Xmp.lr.hierarchicalSubject"), &hierarchy);
    }
    const Exiv2::XmpTextValue identifier{std::string(photoId)};
    xmp.add(Exiv2::XmpKey("Xmp.dc.identifier"), &identifier);
    std::string packet;
    if (Exiv2::XmpParser::encode(packet, xmp, Exiv2::XmpParser::omitPacketWrapper) != 0) return "";
    return packet;
}

SidecarWrite WriteSidecars(const std::string& userFolder, const std::string& userName, Ledger& ledger) {
    SidecarWrite result;
    const std::vector<LedgerAlbum> albums = ledger.Albums();
    const std::vector<LedgerPhoto> photos = ledger.Photos();
    const auto pictures = ledger.Pictures();
    if (ledger.failed()) {
        result.failure = ledger.error();
        return result;
    }
    std::map<std::string, std::string> albumTitles;
    for (const LedgerAlbum& album : albums) albumTitles[album.id] = album.title.bytes;
    // A photo in several albums has one sidecar naming them all; its texts are those of a listing
    // the service still has, when there is one.
    std::map<std::string, PhotoText> texts;
    for (const LedgerPhoto& photo : photos) {
        PhotoText& text = texts[photo.id];
        if (!text.photo || (!text.photo->removedAt.empty() && photo.removedAt.empty())) text.photo = &photo;
        const std::string& album = albumTitles[photo.album];
        if (std::find(text.albums.begin(), text.albums.end(), album) == text.albums.end())
            text.albums.push_back(album);
    }
    const std::string user = GbkToUtf8(userName);
    const PicturesOnDisk disk(userFolder);
    for (const auto& [key, picture] : pictures) {
        const auto& [photoId, size] = key;
        const auto text = texts.find(photoId);
        if (text == texts.end() || !disk.Has(photoId, size)) continue;
        const LedgerPhoto& photo = *text->second.photo;
        const std::string sidecar =
            SidecarText(photoId, photo.title.bytes, photo.description.bytes, text->second.albums, user);
        const std::string path =
            JoinPath(userFolder, RelativePicturePath(photoId, size, kPathSeparator)) + ".xmp";
        bool written = false;
        if (sidecar.empty() || !WriteFileAtomic(path, sidecar, 0644, &written)) {
            result.failure = WriteFailedText(path, sidecar.empty() ? EINVAL : errno);
            return result;
        }
        ++(written ? result.written : result.unchanged);
    }
    return result;
}
