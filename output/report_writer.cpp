// The user's static report: the index page and four pages per album. Pages are GBK with "\r\n" line
// breaks and no charset; each is built in memory and replaces its file atomically.
#include "catalogue/album_catalogue.h"
#include "catalogue/zorbi_service.h"
#include "output/link_format.h"
#include "output/text_format.h"
#include "platform/codepage.h"
#include "platform/file_util.h"

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

void AlbumCatalogue::WriteIndexPage(const std::string& userFolder) const {
    std::string page = PageStart(userName);
    page += "<div align='center'>";
    page += kHeadingStart;
    page += userName;
    page += GBK("的相册<o:p></o:p></span></b></p>");
    page +=
        "<table border=1 cellspacing=0 cellpadding=0 style='margin-left:.75pt; "
        "border-collapse:collapse;border:none;mso-border-alt:solid windowtext .5pt; "
        "mso-padding-alt:2.85pt 5.4pt 2.85pt 5.4pt'>\r\n";
    for (int i = 0; i < albumCount && i < MaxAlbums; ++i) {
        const AlbumInfo& album = albums[i];
        page += "<tr>\r\n";
        page += kCellStart;
        page += album.title.view();
        page += "</td>\r\n";
        page += kCellStart + Format(GBK("%i张照片").c_str(), album.photoCount) + "</td>\r\n";
        for (int j = 0; j < SizeCount; ++j) {
            page += kCellStart;
            page += "<a href=\"" + album.id.str() + "_" + std::to_string(j) + ".htm\" target=\"_blank\">";
            page += SizeNames()[j];
            page += "</a></td>\r\n";
        }
        page += "</tr>\r\n";
    }
    page += "</table>\r\n</div>\r\n</body>\r\n</html>";
    // Named after the user folder: the name the main window opens the page by.
    WriteFileAtomic(JoinPath(userFolder, BaseName(userFolder) + "_index.htm"), page);
}

void AlbumInfo::WriteAlbumPages(const std::string& userFolder, const std::string& templ) const {
    if (!IsSafeFileId(id.view())) return;
    const auto pagePath = [&](int size) {
        return JoinPath(userFolder, id.str() + "_" + std::to_string(size) + ".htm");
    };
    for (int i = 0; i < SizeCount; ++i) {
        std::string page = PageStart(title.view());
        page += kHeadingStart;
        page += title.view();
        page += "<o:p></o:p></span></b></p>";
        page += "<div align='right'>";
        for (int j = 0; j < SizeCount; ++j) {
            if (j == i) {
                page += SizeNames()[j] + "\r\n";
            } else {
                page += "<a href='" + pagePath(j) + "'>" + SizeNames()[j] + "</a>\r\n";
            }
            page += "&nbsp&nbsp&nbsp&nbsp";
        }
        page += "</div>\r\n";
        page += "<div>\r\n";
        for (int n = 1; n <= photoCount && n <= MaxPhotosPerAlbum; ++n) {
            std::string numbered = templ;
            ReplaceAll(numbered, "$no", std::to_string(n));
            page += "<p>";
            page += photos[n - 1].ExpandTemplate(numbered, i);
            page += "</p>\r\n";
        }
        page += "</div>\r\n</body>\r\n</html>";
        // A page that cannot be written skips the larger sizes too.
        if (!WriteFileAtomic(pagePath(i), page)) return;
    }
}
