// RebuildPreview of a 1024-photo album in the preview format (page text, clipboard, temp.htm, pane),
// against the floor of writing the same bytes to the same file and putting the same text on the
// clipboard. Medians over repeated rebuilds.
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "catalogue/album_catalogue.h"
#include "platform/file_util.h"
#include "ui/album_browser_dlg.h"
#include "ui/gbk_text.h"
#include "ui/web_browser2.h"

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    CWebBrowser2::PrepareProcess();
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 31;
    QTemporaryDir folder;
    const std::string startup = folder.path().toStdString();

    static AlbumCatalogue catalogue;
    catalogue.albumCount = 1;
    AlbumInfo& album = catalogue.albums[0];
    album.id = "72157600000000001";
    album.title = "album";
    constexpr int kPhotos = 1024;
    album.photoCount = kPhotos;
    album.listedCount = kPhotos;  // pages list the records the photo list filled
    for (int i = 0; i < kPhotos; ++i) {
        PhotoInfo& photo = album.photos[i];
        photo.id = std::to_string(1000000 + i);
        photo.url = "http://photos.zorbi.example/" + std::to_string(2000 + i) + "/" +
                    std::to_string(1000000 + i) + "_0123456789";
        photo.title = "\xc7\xe5\xb3\xbf photo " + std::to_string(i);  // GBK text
        photo.description = "\xcc\xec\xc6\xf8\xba\xdc\xba\xc3 description";
        photo.secret = "0123456789";
    }

    CAlbumBrowserDlg window(catalogue, startup, ZorbiService::FromEnvironment());
    window.settings().Load();
    window.OnInitDialog();
    window.formatIndex = 3;

    std::vector<double> rebuild, floor;
    QElapsedTimer timer;
    for (int i = 0; i < runs; ++i) {
        timer.start();
        window.RebuildPreview();
        rebuild.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        QCoreApplication::processEvents();
    }
    std::string page;
    ReadWholeFile(JoinPath(window.settings().outputPath, "temp.htm"), page);
    const QString text = FromGbk(page);
    const QString path = QString::fromStdString(ToOsPath(JoinPath(window.settings().outputPath, "temp.htm")));
    for (int i = 0; i < runs; ++i) {
        timer.start();
        QGuiApplication::clipboard()->setText(text);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(page.data(), qint64(page.size()));
        file.close();
        floor.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        QCoreApplication::processEvents();
    }
    const double r = Median(rebuild), f = Median(floor);
    std::printf("page_bytes: %zu\n", page.size());
    std::printf("rebuild_median_ms: %.2f\n", r);
    std::printf("write_floor_median_ms: %.2f\n", f);
    std::printf("ratio_vs_write_floor: %.2f\n", r / f);
    return 0;
}
