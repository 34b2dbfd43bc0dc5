#pragma once
// Readers of the service's cached answers. They read local files only and fill the catalogue.
#include <sys/stat.h>
#include <tinyxml.h>

#include <string>
#include <string_view>

#include "catalogue/album_catalogue.h"

// The deepest nesting of elements in an XML text (a quick scan, not a parse).
size_t XmlNestingDepth(std::string_view text);

class RestReader {
  public:
    // Answers nested deeper, or larger, are refused as unreadable.
    static constexpr size_t kMaxNestingDepth = 256;
    static constexpr size_t kMaxAnswerBytes = 16 * 1024 * 1024;

    // Fills `catalogue`; photo addresses start with `pictureHost`.
    RestReader(AlbumCatalogue& catalogue, std::string pictureHost);
    virtual ~RestReader() = default;

    enum class AnswerKind { Ok, Fail, Unreadable };
    // What a downloaded answer is: a service answer (root rsp, stat "ok"), the service's own error
    // (stat "fail"; errorMessage receives its message, GBK), or anything else, refused with the same
    // size and depth limits as the readers'.
    static AnswerKind CheckAnswer(const std::string& text, std::string* errorMessage = nullptr);
    // True when the cached file is a service answer with stat "ok"; an error answer counts as missing.
    bool HoldsAnswer(std::string fileName);

    // Every text these return or store is GBK, but ids, secrets and the user name, which are the
    // answer's bytes.

    // The service's error message (GBK) of an answer whose root has stat="fail"; empty otherwise.
    std::string ReadError(std::string fileName);
    // The user id (empty when none); sets userId, and userName when the answer names the user.
    std::string ReadUser(std::string fileName);
    // Replaces the albums by every album of the list; returns the new albumCount (0 when unreadable).
    int ReadAlbumList(std::string fileName);
    // Fills at most photoCount photos of the album and sets its listedCount; returns how many it filled
    // (0 for an album the list did not fill).
    int ReadAlbumPhotos(std::string fileName, int albumIndex);
    // Sets secret and description of one photo record held; 1 when the answer held a photo, else 0.
    int ReadPhotoInfo(std::string fileName, int albumIndex, int photoIndex);

  private:
    bool Load(const std::string& fileName);
    // Reads and parses the file; `info` receives its status (all zero when it cannot be opened).
    bool LoadChecked(const std::string& osPath, struct stat& info);
    // Parses an answer's text within the size and depth limits.
    static bool Parse(const std::string& text, TiXmlDocument& document);

    AlbumCatalogue& catalogue_;
    std::string pictureHost_;
    TiXmlDocument document_;
    // The file the document holds, to skip parsing it again while it is unchanged.
    std::string loadedPath_;
    struct stat loadedInfo_ {};
    bool loadedOk_ = false;
};
