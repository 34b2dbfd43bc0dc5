#include "catalogue/zorbi_service.h"

#include <cstdlib>

#include "net/percent_encode.h"
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

bool IsSafeFileId(std::string_view id) {
    if (id.empty() || id.size() > 128 || id == "." || id == "..") return false;
    for (const char ch : id) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (!IsAsciiAlnum(c) && c != '@' && c != '-' && c != '_' && c != '.') return false;
    }
    return true;
}
