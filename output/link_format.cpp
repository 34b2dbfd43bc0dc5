#include "output/link_format.h"

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

std::string ExpandTemplate(const PhotoInfo& photo, const std::string& templ, int sizeIndex) {
    std::string text = templ;
    ReplaceAll(text, "$url", PictureAddress(photo.url.view(), sizeIndex));
    ReplaceAll(text, "$title", photo.title.view());
    ReplaceAll(text, "$description", photo.description.view());
    ReplaceAll(text, "$secret", photo.secret.view());
    return text;
}

std::string BuildLinkList(const AlbumInfo& album, const std::string& templ, int sizeIndex) {
    std::string list;
    for (int n = 1; n <= album.photoCount && n <= MaxPhotosPerAlbum; ++n) {
        std::string entry = ExpandTemplate(album.photos[n - 1], templ, sizeIndex);
        ReplaceAll(entry, "$no", std::to_string(n));
        list += entry;
        list += "<br>\r\n";
    }
    return list;
}
