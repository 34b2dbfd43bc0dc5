#include "catalogue/zorbi_service.h"

#include <curl/curl.h>

#include <cstdlib>
#include <new>

#include "platform/codepage.h"

ZorbiService ZorbiService::FromEnvironment() {
    const char* endpoint = std::getenv("ZORBI_ENDPOINT");
    const char* pictureHost = std::getenv("ZORBI_PICTURE_HOST");
    return ZorbiService(endpoint && *endpoint ? endpoint : kDefaultEndpoint,
                        pictureHost && *pictureHost ? pictureHost : kDefaultPictureHost);
}

ZorbiService::ZorbiService(std::string endpoint, std::string pictureHost)
    : endpoint_(std::move(endpoint)), pictureHost_(std::move(pictureHost)) {}

std::string ZorbiService::Request(const char* method, const char* key, std::string_view utf8Value) const {
    std::string url = endpoint_;
    url += "/api/rest/?method=";
    url += method;
    url += "&api_key=";
    url += kApiKey;
    url += '&';
    url += key;
    url += '=';
    url += PercentEncode(utf8Value);
    return url;
}

std::string ZorbiService::UserRequest(std::string_view userName) const {
    return Request("zorbi.people.findByUsername", "username", GbkToUtf8(userName));
}

std::string ZorbiService::AlbumListRequest(std::string_view userId) const {
    return Request("zorbi.albums.getList", "user_id", userId);
}

std::string ZorbiService::AlbumPhotosRequest(std::string_view albumId) const {
    return Request("zorbi.albums.getPhotos", "album_id", albumId);
}

std::string ZorbiService::PhotoInfoRequest(std::string_view photoId) const {
    return Request("zorbi.photos.getInfo", "photo_id", photoId);
}

namespace {
bool IsAsciiAlnum(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}
}  // namespace

std::string PercentEncode(std::string_view bytes) {
    // libcurl refuses inputs of more than a few megabytes; bytes are encoded one by one, so pieces
    // join up exactly. A hostile answer's id may be that long.
    constexpr size_t kPiece = 1 << 20;
    std::string out;
    out.reserve(bytes.size());
    for (size_t start = 0; start < bytes.size(); start += kPiece) {
        const std::string_view piece = bytes.substr(start, kPiece);
        char* escaped = curl_easy_escape(nullptr, piece.data(), static_cast<int>(piece.size()));
        if (!escaped) throw std::bad_alloc();
        out += escaped;
        curl_free(escaped);
    }
    return out;
}

bool IsSafeFileId(std::string_view id) {
    if (id.empty() || id.size() > 128 || id == "." || id == "..") return false;
    for (const char ch : id) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (!IsAsciiAlnum(c) && c != '@' && c != '-' && c != '_' && c != '.') return false;
    }
    return true;
}
