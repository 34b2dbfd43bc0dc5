#pragma once
// The deterministic sample world of the demo service and the XML answers the Zorbi REST interface
// gives about it.
#include <map>
#include <set>
#include <string>

struct SampleWorldSize {
    int bigAlbums = 20;
    int bigPhotos = 250;
    int bigExtraPhotos = 0;  // photos of one more album of user "big" after the others; 0: none
};

class SampleWorld {
  public:
    // `removed`: album and photo ids taken out of every answer, as the service does with what its user
    // deleted; `titles`: album and photo ids given another title.
    explicit SampleWorld(SampleWorldSize size, std::set<std::string> removed = {},
                         std::map<std::string, std::string> titles = {});

    // The answer document (UTF-8 XML) for one REST method and its query value; unknown users, albums,
    // photos and methods give the service's error answer.
    std::string Answer(const std::string& method, const std::string& value) const;

  private:
    std::string FindByUsername(const std::string& userName) const;
    std::string GetList(const std::string& userId) const;
    std::string GetPhotos(const std::string& albumId) const;
    std::string GetInfo(const std::string& photoId) const;
    int UserIndexById(const std::string& userId) const;
    int AlbumCount(int user) const;
    // Photos the album's photo list holds, and the count the album list announces.
    int ListedPhotos(int user, int album) const;
    int AnnouncedPhotos(int user, int album) const;
    int RemovedPhotos(int user, int album) const;
    // The title given to `id`, else `title`.
    std::string TitleOf(const std::string& id, const std::string& title) const;

    SampleWorldSize size_;
    std::set<std::string> removed_;
    std::map<std::string, std::string> titles_;
};

// The query key of a REST method ("username", "user_id", ...); empty for an unknown method.
std::string QueryKeyOf(const std::string& method);

// The service's error answer.
std::string ErrorAnswer(int code, const std::string& message);

// Escapes text for an XML attribute or element.
std::string XmlEscape(const std::string& text);

// A small PNG picture whose colours follow from `seed`; sizeIndex 0..3 makes it larger.
std::string PictureBytes(const std::string& seed, int sizeIndex);

// A baseline JPEG picture whose colours follow from `seed` and `sizeIndex`, padded with comment segments to
// exactly `totalBytes` (when that is more than the bare picture, under 1 KiB).
std::string JpegPictureBytes(const std::string& seed, int sizeIndex, size_t totalBytes);

// `raw` as a gzip file (stored blocks).
std::string GzipBytes(const std::string& raw);
