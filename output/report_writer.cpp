#include "output/report_writer.h"

#include <cerrno>

#include "catalogue/zorbi_service.h"
#include "output/link_format.h"
#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/text_format.h"

namespace {

const char kHeadingStart[] =
    "<p class=MsoNormal align=center style='text-align:center'><b><span lang=EN-US "
    "style='font-size:22.0pt;mso-bidi-font-size:12.0pt'>";
const char kCellStart[] = "<td style='border:solid windowtext .5pt;padding:2.85pt 5.4pt 2.85pt 5.4pt'>";

std::string PageStart(std::string_view title) {
    std::string page = "<html>\r\n<head><title>";
    page += title;
    page += "</title></head>\r\n<body>\r\n";
    return page;
}

}  // namespace

std::string IndexPagePath(const std::string& userFolder) {
    return JoinPath(userFolder, BaseName(userFolder) + "_index.htm");
}

std::string AlbumPagePath(const std::string& userFolder, std::string_view albumId, int sizeIndex) {
    return JoinPath(userFolder, std::string(albumId) + "_" + std::to_string(sizeIndex) + ".htm");
}

PageWrite WriteIndexPage(const AlbumCatalogue& catalogue, const std::string& userFolder) {
    const std::string userName = HtmlEscape(catalogue.userName);
    std::string page = PageStart(userName);
    page += "<div align='center'>";
    page += kHeadingStart;
    page += userName;
    page += GBK("的相册<o:p></o:p></span></b></p>");
    page +=
        "<table border=1 cellspacing=0 cellpadding=0 style='margin-left:.75pt; "
        "border-collapse:collapse;border:none;mso-border-alt:solid windowtext .5pt; "
        "mso-padding-alt:2.85pt 5.4pt 2.85pt 5.4pt'>\r\n";
    for (int i = 0; i < catalogue.albumCount; ++i) {
        const AlbumInfo& album = catalogue.albums[i];
        // An album whose id cannot name a file has no pages to link.
        const bool linked = IsSafeFileId(album.id.view());
        page += "<tr>\r\n";
        page += kCellStart;
        page += HtmlEscape(album.title.view());
        page += "</td>\r\n";
        page += kCellStart + Format(GBK("%i张照片").c_str(), album.photoCount) + "</td>\r\n";
        for (int j = 0; j < SizeCount; ++j) {
            page += kCellStart;
            if (linked) {
                page += "<a href=\"" + album.id.str() + "_" + std::to_string(j) + ".htm\" target=\"_blank\">";
                page += SizeNames()[j];
                page += "</a></td>\r\n";
            } else {
                page += SizeNames()[j] + "</td>\r\n";
            }
        }
        page += "</tr>\r\n";
    }
    page += "</table>\r\n</div>\r\n</body>\r\n</html>";
    const std::string path = IndexPagePath(userFolder);
    if (!WriteFileAtomic(path, page)) return {path, errno};
    return {};
}

PageWrite WriteAlbumPages(const AlbumInfo& album, const std::string& userFolder, const std::string& templ,
                          const LocalPictureLink& localLink) {
    if (!IsSafeFileId(album.id.view())) return {};
    const auto pagePath = [&](int size) { return AlbumPagePath(userFolder, album.id.view(), size); };
    const std::string title = HtmlEscape(album.title.view());
    for (int i = 0; i < SizeCount; ++i) {
        std::string page = PageStart(title);
        // Grown once rather than doubling through every entry of a large album.
        page.reserve(1024 + static_cast<size_t>(ListedPhotos(album)) * (templ.size() + 256));
        page += kHeadingStart;
        page += title;
        page += "<o:p></o:p></span></b></p>";
        page += "<div align='right'>";
        for (int j = 0; j < SizeCount; ++j) {
            if (j == i) {
                page += SizeNames()[j] + "\r\n";
            } else {
                page += "<a href='" + HtmlEscape(pagePath(j)) + "'>" + SizeNames()[j] + "</a>\r\n";
            }
            page += "&nbsp&nbsp&nbsp&nbsp";
        }
        page += "</div>\r\n";
        page += "<div>\r\n";
        for (int n = 1; n <= ListedPhotos(album); ++n) {
            std::string numbered = templ;
            ReplaceAll(numbered, "$no", std::to_string(n));
            page += "<p>";
            const PhotoInfo& photo = album.photos[n - 1];
            const std::string local = localLink ? localLink(photo.id.view(), i) : std::string();
            page += ExpandTemplate(photo, numbered, i, FieldText::HtmlEscaped, local);
            page += "</p>\r\n";
        }
        page += "</div>\r\n</body>\r\n</html>";
        if (!WriteFileAtomic(pagePath(i), page)) return {pagePath(i), errno};
    }
    return {};
}
