#pragma once
// The Zorbi service as the program uses it: its addresses and the four REST requests.
#include <string>
#include <string_view>

class ZorbiService {
  public:
    static constexpr const char* kDefaultEndpoint = "http://www.zorbi.example";
    static constexpr const char* kDefaultPictureHost = "http://photos.zorbi.example";
    static constexpr const char* kDomain = "zorbi.example";
    static constexpr const char* kApiKey = "5f3e9c07a2d14b6880c1e7f29a3b6d4e";

    // The built-in addresses, replaced by ZORBI_ENDPOINT and ZORBI_PICTURE_HOST when those are set.
    static ZorbiService FromEnvironment();
    ZorbiService(std::string endpoint, std::string pictureHost);

    const std::string& endpoint() const { return endpoint_; }
    const std::string& pictureHost() const { return pictureHost_; }
    const char* domain() const { return kDomain; }

    // The request addresses; the user name is a GBK text, the ids are bytes of the service's answers.
    std::string UserRequest(std::string_view userName) const;
    std::string AlbumListRequest(std::string_view userId) const;
    std::string AlbumPhotosRequest(std::string_view albumId) const;
    std::string PhotoInfoRequest(std::string_view photoId) const;

  private:
    std::string Request(const char* method, const char* key, std::string_view utf8Value) const;

    std::string endpoint_;
    std::string pictureHost_;
};

// True for an id that can name a cache file or a page: 1 to 128 bytes of ASCII letters, digits and
// "@-_.", other than "." and "..".
bool IsSafeFileId(std::string_view id);
