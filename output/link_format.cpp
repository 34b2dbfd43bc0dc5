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

std::string ExpandTemplate(const PhotoInfo& photo, const std::string& templ, int sizeIndex, FieldText fields,
                           std::string_view pictureUrl) {
    const auto field = [fields](std::string_view value) {
        return fields == FieldText::HtmlEscaped ? HtmlEscape(value) : std::string(value);
    };
    std::string text = templ;
    ReplaceAll(
        text, "$url",
        field(pictureUrl.empty() ? PictureAddress(photo.url.view(), sizeIndex) : std::string(pictureUrl)));
    ReplaceAll(text, "$title", field(photo.title.view()));
    ReplaceAll(text, "$description", field(photo.description.view()));
    ReplaceAll(text, "$secret", field(photo.secret.view()));
    return text;
}

int ListedPhotos(const AlbumInfo& album) {
    return std::max(0, std::min(album.listedCount, album.photoCount));
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
