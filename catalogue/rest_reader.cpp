#include "catalogue/rest_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/codepage.h"
#include "platform/file_util.h"

namespace {

// An attribute's value as the answer holds it. Ids and secrets are taken as bytes (.bytes); texts
// for people go through Utf8ToGbk.
Utf8Text AttributeOf(const TiXmlElement* element, const char* name) {
    const char* value = element->Attribute(name);
    return {value ? value : ""};
}

// The text of an element: the value of its first child node. False when it has none.
bool TextOf(const TiXmlElement* element, Utf8Text& text) {
    const TiXmlNode* child = element ? element->FirstChild() : nullptr;
    if (!child) return false;
    text.bytes = child->Value();
    return true;
}

// A count as atoi reads it, saturating at INT_MAX instead of overflowing; a negative count is 0.
int PhotoCountOf(const TiXmlElement* element) {
    const char* value = element->Attribute("photos");
    if (!value) return 0;
    const long n = std::strtol(value, nullptr, 10);
    return static_cast<int>(std::clamp<long>(n, 0, INT_MAX));
}

// The text as TiXmlDocument::LoadFile parses it (cut at the first NUL byte, "\r\n" and a lone "\r"
// made "\n"), followed by NUL bytes beyond the longest step the parser takes.
std::string ParseBuffer(const std::string& text) {
    const std::string_view whole = std::string_view(text).substr(0, text.find('\0'));
    std::string buffer;
    buffer.reserve(whole.size() + 8);
    size_t start = 0;  // the lines between carriage returns are copied whole
    for (size_t cr = whole.find('\r'); cr != std::string_view::npos; cr = whole.find('\r', start)) {
        buffer.append(whole.substr(start, cr - start));
        buffer += '\n';
        start = cr + 1;
        if (start < whole.size() && whole[start] == '\n') ++start;
    }
    buffer.append(whole.substr(start));
    buffer.append(8, '\0');
    return buffer;
}

}  // namespace

size_t XmlNestingDepth(std::string_view text) {
    size_t depth = 0, deepest = 0;
    const auto skipPast = [&](size_t from, std::string_view end) {
        const size_t at = text.find(end, from);
        return at == std::string_view::npos ? text.size() : at + end.size();
    };
    for (size_t i = text.find('<'); i < text.size(); i = text.find('<', i)) {
        const std::string_view rest = text.substr(i);
        if (rest.starts_with("<!--")) {
            i = skipPast(i + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            i = skipPast(i + 9, "]]>");
        } else if (rest.starts_with("<?") || rest.starts_with("<!")) {
            i = skipPast(i + 2, ">");
        } else if (rest.starts_with("</")) {
            if (depth > 0) --depth;
            i = skipPast(i + 2, ">");
        } else {
            // An opening tag: find its end outside quoted attribute values.
            size_t j = i + 1;
            char quote = 0;
            for (; j < text.size() && (quote || text[j] != '>'); ++j) {
                if (quote && text[j] == quote) {
                    quote = 0;
                } else if (!quote && (text[j] == '"' || text[j] == '\'')) {
                    quote = text[j];
                }
            }
            if (j >= text.size() || text[j - 1] != '/') deepest = std::max(deepest, ++depth);
            i = j + 1;
        }
    }
    return deepest;
}

bool RestReader::LoadChecked(const std::string& osPath, struct stat& info) {
    document_.Clear();
    const int fd = ::open(osPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string text;
    bool readable = ::fstat(fd, &info) == 0;
    if (readable) {
        // TinyXML recurses once per level and holds the whole file: refuse what could exhaust either.
        const size_t expected = static_cast<size_t>(std::max<off_t>(info.st_size, 0));
        text.resize(std::min(expected, kMaxAnswerBytes) + 1);
        size_t got = 0;
        while (got < text.size()) {
            const size_t wanted = text.size() - got;
            const ssize_t n = ::read(fd, text.data() + got, wanted);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
            if (static_cast<size_t>(n) < wanted) break;  // a short read of a file is its end
            if (got == text.size() && text.size() <= kMaxAnswerBytes)
                text.resize(text.size() * 2);  // it grew
        }
        text.resize(got);
    }
    ::close(fd);
    return readable && Parse(text, document_);
}

bool RestReader::Parse(const std::string& text, TiXmlDocument& document) {
    document.Clear();
    if (text.size() > kMaxAnswerBytes || XmlNestingDepth(text) > kMaxNestingDepth) return false;
    // TinyXML steps over the whole length a UTF-8 lead byte announces without looking for the end of
    // the text: from the buffer LoadFile makes, an answer ending inside such a sequence was read past
    // its end. The parser gets the text as LoadFile would hand it over, followed by padding.
    const std::string parsed = ParseBuffer(text);
    document.Parse(parsed.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
    return !document.Error();
}

namespace {

// The status of a parsed answer: its root must be rsp with a stat attribute.
RestReader::AnswerKind KindOf(const TiXmlDocument& document) {
    const TiXmlElement* root = document.RootElement();
    const char* stat = root ? root->Attribute("stat") : nullptr;
    if (!stat || std::string_view(root->Value()) != "rsp") return RestReader::AnswerKind::Unreadable;
    if (std::string_view(stat) == "ok") return RestReader::AnswerKind::Ok;
    if (std::string_view(stat) == "fail") return RestReader::AnswerKind::Fail;
    return RestReader::AnswerKind::Unreadable;
}

}  // namespace

RestReader::AnswerKind RestReader::CheckAnswer(const std::string& text, std::string* errorMessage) {
    TiXmlDocument document;
    if (!Parse(text, document)) return AnswerKind::Unreadable;
    const AnswerKind kind = KindOf(document);
    if (kind == AnswerKind::Fail && errorMessage) {
        const TiXmlElement* error = document.RootElement()->FirstChildElement();
        *errorMessage = error ? Utf8ToGbk(AttributeOf(error, "msg")) : "";
    }
    return kind;
}

bool RestReader::HoldsAnswer(std::string fileName) {
    return Load(fileName) && KindOf(document_) == AnswerKind::Ok;
}

RestReader::RestReader(AlbumCatalogue& catalogue, std::string pictureHost)
    : catalogue_(catalogue), pictureHost_(std::move(pictureHost)) {}

bool RestReader::Load(const std::string& fileName) {
    // The workflow reads every answer twice (its error, then its content): a file that has not changed
    // since the last load is not parsed again.
    const std::string path = ToOsPath(fileName);
    struct stat info {};
    if (path == loadedPath_ && ::stat(path.c_str(), &info) == 0 && info.st_ino == loadedInfo_.st_ino &&
        info.st_dev == loadedInfo_.st_dev && info.st_size == loadedInfo_.st_size &&
        info.st_mtim.tv_sec == loadedInfo_.st_mtim.tv_sec &&
        info.st_mtim.tv_nsec == loadedInfo_.st_mtim.tv_nsec) {
        return loadedOk_;
    }
    loadedPath_.clear();
    loadedOk_ = LoadChecked(path, info);
    if (info.st_ino != 0) {
        loadedPath_ = path;
        loadedInfo_ = info;
    }
    return loadedOk_;
}

std::string RestReader::ReadError(std::string fileName) {
    if (!Load(fileName)) return "";
    const TiXmlElement* root = document_.FirstChildElement();
    if (!root) return "";
    const char* stat = root->Attribute("stat");
    if (!stat || std::string(stat) != "fail") return "";
    const TiXmlElement* error = root->FirstChildElement();
    return error ? Utf8ToGbk(AttributeOf(error, "msg")) : "";
}

std::string RestReader::ReadUser(std::string fileName) {
    if (!Load(fileName)) return "";
    const TiXmlElement* root = document_.FirstChildElement();
    const TiXmlElement* user = root ? root->FirstChildElement("user") : nullptr;
    if (!user) return "";
    catalogue_.userId = AttributeOf(user, "id").bytes;
    Utf8Text name;
    if (TextOf(user->FirstChildElement("username"), name)) catalogue_.userName = name.bytes;
    return catalogue_.userId;
}

int RestReader::ReadAlbumList(std::string fileName) {
    catalogue_.ClearAlbums();  // nothing of an earlier load stays behind
    if (!Load(fileName)) return 0;
    const TiXmlElement* root = document_.FirstChildElement();
    const TiXmlElement* albums = root ? root->FirstChildElement("albums") : nullptr;
    const TiXmlElement* element = albums ? albums->FirstChildElement("album") : nullptr;
    for (int i = 0; element; ++i, element = element->NextSiblingElement()) {
        AlbumInfo& album = catalogue_.albums[i];
        catalogue_.albumCount = i + 1;
        album.id = AttributeOf(element, "id").bytes;
        album.photoCount = PhotoCountOf(element);
        Utf8Text title;
        if (TextOf(element->FirstChildElement("title"), title)) album.title = Utf8ToGbk(title);
        int& total = catalogue_.photoTotal;
        total = album.photoCount > INT_MAX - total ? INT_MAX : total + album.photoCount;
    }
    return catalogue_.albumCount;
}

int RestReader::ReadAlbumPhotos(std::string fileName, int albumIndex) {
    // Only an album the list filled: a record is never made for an index the caller chose.
    if (albumIndex < 0 || albumIndex >= catalogue_.albums.highWater() || !Load(fileName)) return 0;
    const TiXmlElement* root = document_.FirstChildElement();
    const TiXmlElement* album = root ? root->FirstChildElement("album") : nullptr;
    const TiXmlElement* photos = album ? album->FirstChildElement("photos") : nullptr;
    const TiXmlElement* element = photos ? photos->FirstChildElement("photo") : nullptr;
    AlbumInfo& record = catalogue_.albums[albumIndex];
    int n = 0;
    for (; n < record.photoCount && element; ++n, element = element->NextSiblingElement()) {
        PhotoInfo& photo = record.photos[n];
        photo.id = AttributeOf(element, "id").bytes;
        photo.url = pictureHost_ + "/" + AttributeOf(element, "dir").bytes + "/" +
                    AttributeOf(element, "filename").bytes;
        photo.title = Utf8ToGbk(AttributeOf(element, "title"));
    }
    record.listedCount = n;
    return n;
}

int RestReader::ReadPhotoInfo(std::string fileName, int albumIndex, int photoIndex) {
    // Only a photo record that is held, as for ReadAlbumPhotos.
    if (albumIndex < 0 || albumIndex >= catalogue_.albums.highWater()) return 0;
    PhotoRecords& photos = catalogue_.albums[albumIndex].photos;
    if (photoIndex < 0 || photoIndex >= photos.highWater() || !Load(fileName)) return 0;
    const TiXmlElement* root = document_.FirstChildElement();
    const TiXmlElement* element = root ? root->FirstChildElement("photo") : nullptr;
    if (!element) return 0;
    PhotoInfo& photo = photos[photoIndex];
    photo.secret = AttributeOf(element, "secret").bytes;
    Utf8Text description;
    if (TextOf(element->FirstChildElement("description"), description))
        photo.description = Utf8ToGbk(description);
    return 1;
}
