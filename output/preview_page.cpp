#include "output/preview_page.h"

#include "output/link_format.h"
#include "platform/codepage.h"
#include "platform/file_util.h"

std::string BuildPreviewPage(const AlbumCatalogue& catalogue, int albumIndex, int sizeIndex,
                             const std::string& outputTemplate, bool copyAlert) {
    std::string page = "<html>";
    page += "<script type=\"text/javascript\">\r\n";
    page += "<!--\r\n";
    page += "function clip(str){\r\n";
    page += " clipboardData.setData('text',str); \r\n";
    if (copyAlert) page += GBK(" alert('地址已复制，按Ctrl+V即可粘贴。');");
    page += "}\r\n ";
    page += "//-->\r\n";
    page += "</script>\r\n ";
    page += "<body><div align='center'><table><font size =2>\r\n";
    // An index past the current albums shows nothing rather than records of an earlier load.
    if (albumIndex >= 0 && albumIndex < catalogue.albumCount) {
        page += BuildLinkList(catalogue.albums[albumIndex], outputTemplate, sizeIndex);
    }
    page += "</font></table></div></body></html>";
    return page;
}

std::string WritePreviewFile(const std::string& outputPath, const std::string& page) {
    std::string path = JoinPath(outputPath, "temp.htm");
    if (!path.empty() && path.front() != kPathSeparator) path = JoinPath(CurrentDirectory(), path);
    return WriteFileAtomic(path, page) ? path : std::string();
}
