#include "output/link_format.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/text_format.h"

const std::array<std::string, SizeCount>& SizeNames() {
    static const std::array<std::string, SizeCount> kNames = {GBK("小图"), GBK("中图"), GBK("大图"),
                                                              GBK("原图")};
    return kNames;
}

const std::array<std::string, BuiltInFormatCount>& FormatTemplates() {
    static const std::array<std::string, BuiltInFormatCount> kTemplates = {
        "$url\r\n",
        "[img]$url[/img]\r\n",
        "&ltimg src='$url'/&gt\r\n",
        GBK("<p>编号:$no. <br>标题:$title<br>描述:$description<br>地址:$url<br>"
            "<img src='$url' ondblclick='javascript:clip(\"$url\")'/></p>"),
    };
    return kTemplates;
}

std::string PictureAddress(std::string_view baseUrl, int sizeIndex) {
    static const char* const kSuffixes[SizeCount] = {"/small.jpg", "/medium.jpg", "/big.jpg", "/large.jpg"};
    if (sizeIndex < 0 || sizeIndex >= SizeCount) return "";
    return std::string(baseUrl) + kSuffixes[sizeIndex];
}

std::string HtmlEscape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    // Byte by byte: none of these bytes is ever the second byte of a GBK character.
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&#39;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string PageSafeAddress(std::string_view address) {
    // RFC 3986's characters less the quote; "%" stays, so an address already encoded keeps its form.
    static const std::string_view kKept = "-._~:/?#[]@!$&()*+,;=%";
    std::string safe;
    safe.reserve(address.size());
    for (const char c : address) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alnum || kKept.find(c) != std::string_view::npos) {
            safe += c;
        } else {
            safe += Format("%%%02X", static_cast<unsigned char>(c));
        }
    }
    return safe;
}

std::string ExpandTemplate(const PhotoInfo& photo, const std::string& templ, int sizeIndex, FieldText fields,
                           std::string_view pictureUrl) {
    const bool escaped = fields == FieldText::HtmlEscaped;
    const auto field = [escaped](std::string_view value) {
        return escaped ? HtmlEscape(value) : std::string(value);
    };
    const std::string address =
        pictureUrl.empty() ? PictureAddress(photo.url.view(), sizeIndex) : std::string(pictureUrl);
    std::string text = templ;
    // A template may put the address inside a script string (the preview format's clip("$url")), where
    // the browser has undone the HTML escaping.
    ReplaceAll(text, "$url", escaped ? HtmlEscape(PageSafeAddress(address)) : address);
    ReplaceAll(text, "$title", field(photo.title.view()));
    ReplaceAll(text, "$description", field(photo.description.view()));
    ReplaceAll(text, "$secret", field(photo.secret.view()));
    return text;
}

int ListedPhotos(const AlbumInfo& album) {
    return std::clamp(std::min(album.listedCount, album.photoCount), 0, MaxPhotosPerAlbum);
}

std::string BuildLinkList(const AlbumInfo& album, const std::string& templ, int sizeIndex) {
    std::string list;
    for (int n = 1; n <= ListedPhotos(album); ++n) {
        std::string entry = ExpandTemplate(album.photos[n - 1], templ, sizeIndex);
        ReplaceAll(entry, "$no", std::to_string(n));
        list += entry;
        list += "<br>\r\n";
    }
    return list;
}
