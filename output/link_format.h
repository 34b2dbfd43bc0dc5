#pragma once
// Picture sizes and the built-in output templates.
#include <array>
#include <string>
#include <string_view>

#include "catalogue/album_catalogue.h"

constexpr int SizeCount = 4;
constexpr int FormatCount = 5;  // the built-in templates and the user's own
constexpr int BuiltInFormatCount = FormatCount - 1;
constexpr int CustomFormatIndex = BuiltInFormatCount;
constexpr int PreviewFormatIndex = 3;  // the format the main window starts with

// Display names of the sizes 0 to 3 (GBK): 小图, 中图, 大图, 原图.
const std::array<std::string, SizeCount>& SizeNames();

// The built-in templates of the formats 0 to 3 (GBK); the fifth format is the user's own.
const std::array<std::string, BuiltInFormatCount>& FormatTemplates();

// The address of a picture in a size, or an empty text for an index outside 0 to 3.
std::string PictureAddress(std::string_view baseUrl, int sizeIndex);

// The text with "&", "<", ">", '"' and "'" written as HTML character references.
std::string HtmlEscape(std::string_view text);

// The address with every byte percent-encoded that is not a URL character or could end a string or an
// attribute around it: blanks, quotes, "<", ">", "\", "`", control bytes and bytes over 0x7E.
std::string PageSafeAddress(std::string_view address);

// How a photo's fields go into a template: as they are (the clipboard and the preview, which users
// paste into other sites' editors), or escaped for the report pages, the address made page-safe first.
enum class FieldText { AsIs, HtmlEscaped };

// The template with "$url" (in the size given, 0 to 3), "$title", "$description" and "$secret"
// replaced by the photo's fields, in that order; "$no" stays. A `pictureUrl` given stands for the
// picture's address (a local copy).
std::string ExpandTemplate(const PhotoInfo& photo, const std::string& templ, int sizeIndex,
                           FieldText fields = FieldText::AsIs, std::string_view pictureUrl = {});

// How many of the album's photos its lists and pages show: the records its photo list filled.
int ListedPhotos(const AlbumInfo& album);

// The link list of the album's listed photos: each expansion with "$no" replaced by its position,
// followed by "<br>\r\n".
std::string BuildLinkList(const AlbumInfo& album, const std::string& templ, int sizeIndex);
