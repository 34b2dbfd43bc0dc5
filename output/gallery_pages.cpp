#include "output/gallery_pages.h"

#include <ctime>

#include "catalogue/zorbi_service.h"
#include "net/percent_encode.h"

namespace {

constexpr const char* kHead =
    "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<meta name=\"color-scheme\" content=\"light dark\">\n<link rel=\"icon\" href=\"data:,\">\n";
// The grid's cells are about a third of a phone's width and at most 240 pixels elsewhere.
constexpr const char* kThumbSizes = "(max-width: 700px) 34vw, 240px";

std::string Text(std::string_view utf8) {
    return HtmlEscape(utf8);
}

std::string PageStart(const std::string& title, std::string_view bodyClass) {
    std::string page = kHead;
    page += "<title>" + title + "</title>\n";
    page += "<link rel=\"stylesheet\" href=\"gallery.css\">\n<script src=\"gallery.js\" defer></script>\n";
    page += "</head>\n<body class=\"" + std::string(bodyClass) + "\">\n";
    return page;
}

std::string SearchBox() {
    return "<input type=\"search\" id=\"search\" placeholder=\"搜索标题和描述\" "
           "aria-label=\"搜索标题和描述\" "
           "autocomplete=\"off\">\n";
}

std::string PageEnd() {
    return "<section id=\"results\" hidden></section>\n</body>\n</html>\n";
}

std::string RemovedBadge(const std::string& date) {
    return "<span class=\"badge removed\">已从服务器删除 " + date + "</span>";
}

// An <img> of the grid, or a placeholder when the photo has no picture at all.
std::string Thumb(const GalleryPhoto& photo, const std::string& alt) {
    if (photo.thumb.empty()) return "<span class=\"noimage\"></span>";
    std::string img = "<img src=\"" + HtmlEscape(photo.thumb) + "\"";
    if (!photo.srcset.empty())
        img += " srcset=\"" + HtmlEscape(photo.srcset) + "\" sizes=\"" + std::string(kThumbSizes) + "\"";
    img += " width=\"" + std::to_string(photo.thumbSize.width) + "\" height=\"" +
           std::to_string(photo.thumbSize.height) + "\" loading=\"lazy\" alt=\"" + alt + "\">";
    return img;
}

// A text as a string of a script: quotes, backslashes and control characters escaped, and "<" too, so
// the text can never close a script element.
std::string ScriptString(std::string_view utf8) {
    static const char kHex[] = "0123456789abcdef";
    std::string quoted = "\"";
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
            quoted += "\\u00";
            quoted += kHex[c >> 4];
            quoted += kHex[c & 15];
        } else if (c == 0xE2 && utf8.substr(i + 1, 1) == "\x80" && i + 2 < utf8.size() &&
                   (utf8[i + 2] == '\xA8' || utf8[i + 2] == '\xA9')) {
            // U+2028 and U+2029 end a line in older script engines.
            quoted += utf8[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

}  // namespace

std::string AlbumPageName(std::string_view albumId) {
    return IsSafeFileId(albumId) ? "album-" + std::string(albumId) + ".html" : std::string();
}

std::string LocalDate(std::string_view utcTime) {
    std::tm utc{};
    const std::string text(utcTime);
    const char* end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc);
    if (!end || *end != '\0') return "";
    const std::time_t when = timegm(&utc);
    std::tm local{};
    localtime_r(&when, &local);
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &local);
    return date;
}

std::string ServiceAddress(std::string_view address) {
    const auto startsWith = [&](std::string_view scheme) {
        if (address.size() < scheme.size()) return false;
        for (size_t i = 0; i < scheme.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(address[i])) != scheme[i]) return false;
        return true;
    };
    if (!startsWith("http://") && !startsWith("https://")) return "";
    static const char kHex[] = "0123456789ABCDEF";
    std::string url;
    for (const char c : address) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F ||
            std::string_view("\"<>\\^`{|}").find(c) != std::string_view::npos) {
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 15];
        } else {
            url += c;
        }
    }
    return url;
}

std::string UserPage(std::string_view userName, const std::vector<GalleryAlbum>& albums) {
    const std::string title = Text(userName) + "的相册";
    int photoCount = 0;
    for (const GalleryAlbum& album : albums) photoCount += static_cast<int>(album.photos.size());
    std::string page = PageStart(title, "user");
    page += "<header>\n<h1>" + title + "</h1>\n";
    page += "<p class=\"summary\">" + std::to_string(albums.size()) + "个相册，" +
            std::to_string(photoCount) + "张照片</p>\n";
    page += SearchBox();
    page += "</header>\n<main id=\"content\">\n<ul class=\"grid albums\">\n";
    for (const GalleryAlbum& album : albums) {
        const std::string albumTitle = Text(album.album->title.bytes);
        page += album.removedDate.empty() ? "<li class=\"album\">" : "<li class=\"album removed\">";
        // An album whose id cannot name a file has no page to open.
        page +=
            album.page.empty() ? "<div class=\"cover\">" : "<a class=\"cover\" href=\"" + album.page + "\">";
        if (album.photos.empty())
            page += "<span class=\"noimage\"></span>";
        else
            page += Thumb(album.photos.front(), "");
        page += "<span class=\"title\">" + albumTitle + "</span>";
        page += album.page.empty() ? "</div>" : "</a>";
        page += "<span class=\"count\">" + std::to_string(album.photos.size()) + "张照片</span>";
        if (!album.removedDate.empty()) page += RemovedBadge(album.removedDate);
        page += "</li>\n";
    }
    page += "</ul>\n</main>\n";
    return page + PageEnd();
}

std::string AlbumPage(std::string_view userName, const GalleryAlbum& album) {
    const std::string title = Text(album.album->title.bytes);
    std::string page = PageStart(title, "album");
    page.reserve(page.size() + 1024 + album.photos.size() * 600);
    page += "<header>\n<nav><a href=\"index.html\">← " + Text(userName) + "的相册</a></nav>\n";
    page += "<h1>" + title + "</h1>\n<p class=\"summary\">" + std::to_string(album.photos.size()) + "张照片";
    if (!album.removedDate.empty()) page += " " + RemovedBadge(album.removedDate);
    page += "</p>\n" + SearchBox() + "</header>\n<main id=\"content\">\n<ul class=\"grid photos\">\n";
    int number = 0;
    for (const GalleryPhoto& photo : album.photos) {
        const std::string photoTitle = Text(photo.photo->title.bytes);
        page += "<li class=\"photo\" id=\"p" + std::to_string(++number) + "\">";
        page += "<a href=\"" + (photo.full.empty() ? "#p" + std::to_string(number) : HtmlEscape(photo.full)) +
                "\"";
        page += " data-sizes=\"";
        for (int size = 0; size < SizeCount; ++size) {
            if (size > 0) page += ' ';
            page += photo.sizes[size].empty() ? "-" : HtmlEscape(photo.sizes[size]);
        }
        page += "\"";
        if (!photo.photo->description.bytes.empty())
            page += " data-desc=\"" + Text(photo.photo->description.bytes) + "\"";
        page += ">" + Thumb(photo, photoTitle) + "</a>";
        page += "<p class=\"caption\">" + photoTitle + "</p>";
        if (!photo.removedDate.empty()) page += RemovedBadge(photo.removedDate);
        if (!photo.backedUp) page += "<span class=\"badge missing\">未备份</span>";
        page += "</li>\n";
    }
    page += "</ul>\n</main>\n";
    return page + PageEnd();
}

std::string SearchIndex(const std::vector<GalleryAlbum>& albums) {
    std::string index = "window.gallerySearchIndex = {\"albums\": [";
    std::string photos;
    int listed = 0;
    for (const GalleryAlbum& album : albums) {
        // Only photos on a page can be found: a result opens its page.
        if (album.page.empty()) continue;
        if (listed > 0) index += ",";
        index += "\n[" + ScriptString(album.page) + "," + ScriptString(album.album->title.bytes) + "]";
        int number = 0;
        for (const GalleryPhoto& photo : album.photos) {
            if (!photos.empty()) photos += ",";
            photos += "\n[" + std::to_string(listed) + "," + std::to_string(++number) + "," +
                      ScriptString(photo.photo->title.bytes) + "," +
                      ScriptString(photo.photo->description.bytes) + "," + ScriptString(photo.thumb) + "," +
                      std::to_string(photo.thumbSize.width) + "," + std::to_string(photo.thumbSize.height) +
                      "]";
        }
        ++listed;
    }
    return index + "],\n\"photos\": [" + photos + "]};\n";
}

std::string GalleryListPage(const std::vector<std::string>& userFolders) {
    std::string page = kHead;
    // The one page outside a gallery folder carries its few rules itself.
    page +=
        "<title>Zorbi相册</title>\n<style>\n"
        "body{margin:0;padding:24px clamp(12px,4vw,48px);font:16px/1.6 system-ui,sans-serif;"
        "background:#f6f6f4;color:#1d1d1f}\n"
        "a{color:#0b57d0}ul{padding:0;list-style:none}li{margin:.4em 0;font-size:1.2em}\n"
        "@media (prefers-color-scheme:dark){body{background:#141416;color:#ececec}a{color:#8ab4f8}}\n"
        "</style>\n</head>\n<body>\n<h1>Zorbi相册</h1>\n<ul>\n";
    for (const std::string& user : userFolders)
        page +=
            "<li><a href=\"" + PercentEncode(user) + "/gallery/index.html\">" + Text(user) + "</a></li>\n";
    if (userFolders.empty()) page += "<li>还没有相册</li>\n";
    return page + "</ul>\n</body>\n</html>\n";
}
