#include "output/link_format.h"

#include <algorithm>
#include <array>

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
    static constexpr auto kEntities = [] {
        std::array<const char*, 256> entities{};
        entities['&'] = "&amp;";
        entities['<'] = "&lt;";
        entities['>'] = "&gt;";
        entities['"'] = "&quot;";
        entities['\''] = "&#39;";
        return entities;
    }();
    std::string escaped;
    escaped.reserve(text.size());
    // Byte by byte, as none of these bytes is ever the second byte of a GBK character; the plain runs
    // between them are copied whole.
    size_t plain = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char* entity = kEntities[static_cast<unsigned char>(text[i])];
        if (!entity) continue;
        escaped.append(text.data() + plain, i - plain);
        escaped += entity;
        plain = i + 1;
    }
    escaped.append(text.data() + plain, text.size() - plain);
    return escaped;
}

namespace {

// The variables of ExpandTemplate, in the order they are replaced.
constexpr std::string_view kVariables[] = {"$url", "$title", "$description", "$secret"};
constexpr size_t kVariableCount = std::size(kVariables);

// The template with its variables replaced in one pass, which gives what replacing them one after
// another gives as long as no value can make a name with the text beside it. False when one could: a
// value holds a "$", or a "$" of the template that starts no variable is followed by a "$" or by a
// letter that follows "$" in a name.
bool ExpandInOnePass(std::string_view templ, const std::string (&values)[kVariableCount], std::string& text) {
    for (const std::string& value : values)
        if (value.find('$') != std::string::npos) return false;
    text.reserve(templ.size() +  // room for a few uses of each value
                 3 * (values[0].size() + values[1].size() + values[2].size() + values[3].size()));
    size_t copied = 0;  // the template before this is in `text`
    for (size_t at = templ.find('$'); at != std::string_view::npos; at = templ.find('$', at + 1)) {
        const std::string_view rest = templ.substr(at);
        size_t v = 0;
        while (v < kVariableCount && !rest.starts_with(kVariables[v])) ++v;
        if (v == kVariableCount) {
            if (rest.size() > 1 && std::string_view("$utds").find(rest[1]) != std::string_view::npos)
                return false;
            continue;
        }
        text.append(templ.substr(copied, at - copied));
        text += values[v];
        copied = at + kVariables[v].size();
        at = copied - 1;
    }
    text.append(templ.substr(copied));
    return true;
}

}  // namespace

std::string PageSafeAddress(std::string_view address) {
    // RFC 3986's characters less the quote; "%" stays, so an address already encoded keeps its form.
    static constexpr auto kKept = [] {
        std::array<bool, 256> kept{};
        for (int c = 0; c < 256; ++c)
            kept[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        for (const char c : std::string_view("-._~:/?#[]@!$&()*+,;=%"))
            kept[static_cast<unsigned char>(c)] = true;
        return kept;
    }();
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string safe;
    safe.reserve(address.size());
    // The runs of kept bytes between those encoded are copied whole.
    size_t kept = 0;
    for (size_t i = 0; i < address.size(); ++i) {
        const auto byte = static_cast<unsigned char>(address[i]);
        if (kKept[byte]) continue;
        safe.append(address.data() + kept, i - kept);
        const char encoded[] = {'%', kHex[byte >> 4], kHex[byte & 15]};
        safe.append(encoded, sizeof encoded);
        kept = i + 1;
    }
    safe.append(address.data() + kept, address.size() - kept);
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
    // A template may put the address inside a script string (the preview format's clip("$url")), where
    // the browser has undone the HTML escaping.
    const std::string values[kVariableCount] = {escaped ? HtmlEscape(PageSafeAddress(address)) : address,
                                                field(photo.title.view()), field(photo.description.view()),
                                                field(photo.secret.view())};
    std::string text;
    if (ExpandInOnePass(templ, values, text)) return text;
    text = templ;
    for (size_t v = 0; v < kVariableCount; ++v) ReplaceAll(text, kVariables[v], values[v]);
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
