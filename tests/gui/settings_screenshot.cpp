// Takes docs/settings-dialog.png, the settings dialog filled from a sample config.ini, or with
// --progress docs/progress-window.png, the progress window over the main window during a network update
// from a demo service that sends the album lists slowly. Both with the window frame: run under Xvfb with
// a window manager; writes the PNG named on the command line.
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <cstdio>

#include "catalogue/album_catalogue.h"
#include "demo_service_process.h"
#include "gui_test_support.h"
#include "ui/album_browser_dlg.h"
#include "ui/progress_dlg.h"
#include "ui/settings_dlg.h"

namespace {

bool GrabFrame(QWidget* window, const QString& file) {
    // The frame is known once the window manager has framed the window.
    for (int i = 0; i < 500 && window->frameGeometry() == window->geometry(); ++i) QTest::qWait(10);
    const QRect frame = window->frameGeometry();
    const QPixmap shot = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    return shot.save(file);
}

int SettingsDialog(const QString& file) {
    Workspace ws;
    ws.WriteConfig(
        "[proxy]\r\nserver=proxy.example\r\nport=8080\r\nuser=me\r\n[config]\r\npath=/home/me/albums\r\n"
        "detail=2\r\n"
        "pictures=0,3\r\nconnections=4\r\n");
    CSettingsDlg dialog(ws.path());
    dialog.settings.Load();
    dialog.UpdateData(false);
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog)) return 1;
    QTest::qWait(300);
    return GrabFrame(&dialog, file) ? 0 : 1;
}

int ProgressWindow(const QString& file) {
    DemoServiceProcess service({"--trickle", "300", "--only", "zorbi.albums.getPhotos"});
    Workspace ws;
    ws.WriteConfig("[config]\r\ndetail=0\r\n[users]\r\nuser0=demo\r\n");
    AlbumCatalogue catalogue;
    CAlbumBrowserDlg window(catalogue, ws.path(), ZorbiService(service.baseUrl(), service.baseUrl()));
    if (!ShowMainWindow(window)) return 1;
    ModalAnswerer answerer;
    bool saved = false;
    answerer.OnceOn("CProgressDlg", [&](QWidget* w) {
        auto* progress = static_cast<CProgressDlg*>(w);
        // A quarter of the albums read, with the caption and status of the running job.
        auto quarter = [progress] {
            return progress->StatusText().startsWith(QStringLiteral("读取相册")) &&
                   4 * (progress->Position() - progress->Minimum()) >=
                       progress->Maximum() - progress->Minimum();
        };
        for (int i = 0; i < 6000 && !quarter(); ++i) QTest::qWait(10);
        QTest::qWait(500);
        saved = GrabFrame(progress, file);
        progress->findChild<QPushButton*>("interruptButton")->click();
    });
    answerer.AnswerMessageBoxes();
    window.userList()->setCurrentRow(0);
    window.findChild<QPushButton*>("updateButton")->click();
    return saved ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const bool progress = argc == 3 && QByteArray(argv[1]) == "--progress";
    if (argc != 2 && !progress) {
        std::fprintf(stderr, "usage: settings_screenshot [--progress] OUTPUT.png\n");
        return 2;
    }
    CWebBrowser2::PrepareProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName("albumbrowser");
    InstallQtTranslations();
    const QString file = QString::fromLocal8Bit(argv[argc - 1]);
    return progress ? ProgressWindow(file) : SettingsDialog(file);
}
