#include "output/link_format.h"

#include "catalogue/album_catalogue.h"
#include "output/text_format.h"
#include "platform/codepage.h"

const std::array<std::string, SizeCount>& SizeNames() {
    static const std::array<std::string, SizeCount> kNames = {GBK("小图"), GBK("中图"), GBK("大图"),
                                                              GBK("原图")};
    return kNames;
}

const std::array<std::string, FormatCount - 1>& FormatTemplates() {
    static const std::array<std::string, FormatCount - 1> kTemplates = {
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

std::string PhotoInfo::ExpandTemplate(const std::string& templ, int sizeIndex) const {
    std::string text = templ;
    ReplaceAll(text, "$url", PictureAddress(url.view(), sizeIndex));
    ReplaceAll(text, "$title", title.view());
    ReplaceAll(text, "$description", description.view());
    ReplaceAll(text, "$secret", secret.view());
    return text;
}

std::string AlbumInfo::BuildLinkList(const std::string& templ, int sizeIndex) const {
    std::string list;
    for (int n = 1; n <= photoCount && n <= MaxPhotosPerAlbum; ++n) {
        std::string entry = photos[n - 1].ExpandTemplate(templ, sizeIndex);
        ReplaceAll(entry, "$no", std::to_string(n));
        list += entry;
        list += "<br>\r\n";
    }
    return list;
}
