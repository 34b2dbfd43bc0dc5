// RebuildPreview of a large album in the preview format (page text, clipboard, temp.htm, pane),
// against the floor of writing the same bytes to the same file and putting the same text on the
// clipboard; then, in the shown window, the time from a rebuild to the preview's first paint and to
// its load, and the resident memory of the window's process and of the pane's renderer. Medians.
// Usage: preview_rebuild [RUNS] [PHOTOS]; PHOTOS defaults to 20000, cut to what the catalogue holds.
// The pictures' host is the built-in one, which does not resolve here: no picture is drawn.
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWebEngineScript>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
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

double NowEpochMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}

// VmRSS of a process in MiB, or -1.
double ResidentMiB(qint64 pid) {
    std::ifstream status("/proc/" + (pid ? std::to_string(pid) : std::string("self")) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return -1;
}

// Runs events until `done` holds or the time is up; false on the time-out.
template <typename Done>
bool WaitFor(Done done, qint64 ms = 300000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// The wall-clock time (epoch ms) of the pane's first paint of a page begun after `after`, or -1. The
// page's own timeline says when; a question asked while the page changes may go unanswered, so it is
// asked again after a while.
double FirstPaintAfter(CWebBrowser2* pane, double after) {
    double paint = -1;
    WaitFor([&] {
        const auto answer = std::make_shared<double>(-2);  // outlives an answer that comes late
        pane->page()->runJavaScript(
            "(function(){var p=performance.getEntriesByName('first-paint')[0];"
            "return p ? performance.timeOrigin + p.startTime : -1;})()",
            QWebEngineScript::ApplicationWorld,
            [answer](const QVariant& value) { *answer = value.toDouble(); });
        WaitFor([&] { return *answer != -2; }, 1000);
        paint = *answer;
        return paint > after;
    });
    return paint > after ? paint : -1;
}

}  // namespace

int main(int argc, char** argv) {
    CWebBrowser2::PrepareProcess();
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 31;
    const int photos = argc > 2 ? std::max(1, atoi(argv[2])) : 20000;
    QTemporaryDir folder;
    const std::string startup = folder.path().toStdString();

    static AlbumCatalogue catalogue;
    catalogue.albumCount = 1;
    AlbumInfo& album = catalogue.albums[0];
    album.id = "72157600000000001";
    album.title = "album";
    album.photoCount = photos;
    album.listedCount = photos;
    for (int i = 0; i < photos; ++i) {
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

    // The shown window: each rebuild until the pane has painted and loaded the new page.
    window.show();
    CWebBrowser2* pane = window.browser();
    bool loaded = false;
    QObject::connect(pane, &QWebEngineView::loadFinished, [&] { loaded = true; });
    WaitFor([&] { return loaded; });
    std::vector<double> paint, load;
    for (int i = 0; i < std::min(runs, 7); ++i) {
        loaded = false;
        const double start = NowEpochMs();
        window.RebuildPreview();
        const double painted = FirstPaintAfter(pane, start);
        if (painted < 0 || !WaitFor([&] { return loaded; })) {
            std::fprintf(stderr, "the pane did not %s the page\n", painted < 0 ? "paint" : "load");
            return 1;
        }
        paint.push_back(painted - start);
        load.push_back(NowEpochMs() - start);
    }
    const double windowRss = ResidentMiB(0);
    const double rendererRss = ResidentMiB(pane->page()->renderProcessPid());

    const double r = Median(rebuild), f = Median(floor);
    std::printf("photos: %d\n", photos);
    std::printf("page_bytes: %zu\n", page.size());
    std::printf("rebuild_median_ms: %.2f\n", r);
    std::printf("write_floor_median_ms: %.2f\n", f);
    std::printf("ratio_vs_write_floor: %.2f\n", r / f);
    std::printf("first_paint_median_ms: %.1f\n", Median(paint));
    std::printf("load_finished_median_ms: %.1f\n", Median(load));
    std::printf("window_rss_mib: %.1f\n", windowRss);
    std::printf("renderer_rss_mib: %.1f\n", rendererRss);
    return 0;
}
