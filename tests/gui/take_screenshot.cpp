// Takes the README's screenshot: the main window with the demo user's first album, after a network
// update from the demo service. Run under Xvfb with a window manager (the frame is in the picture);
// writes the PNG named on the command line.
#include <QGuiApplication>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <cstdio>

#include "catalogue/album_catalogue.h"
#include "demo_service_process.h"
#include "gui_test_support.h"
#include "ui/about_dlg.h"
#include "ui/add_user_dlg.h"
#include "ui/album_browser_dlg.h"
#include "ui/clip_text_dlg.h"
#include "ui/link_label.h"
#include "ui/progress_dlg.h"
#include "ui/settings_dlg.h"

namespace {

// Pictures of the dialogs, to check their geometry.
int GrabDialogs(const QString& folder) {
    Workspace ws;
    CSettingsDlg settings(ws.path());
    settings.settings.Load();
    settings.UpdateData(false);
    settings.grab().save(folder + "/settings.png");
    CProgressDlg progress;
    progress.grab().save(folder + "/progress.png");
    CAddUserDlg addUser;
    addUser.grab().save(folder + "/add_user.png");
    CClipTextDlg clip;
    clip.text = "<html>...";
    clip.UpdateData(false);
    clip.grab().save(folder + "/clip_text.png");
    CAboutDlg about;
    about.mailLink()->PreSubclassWindow();
    about.grab().save(folder + "/about.png");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 3 && QByteArray(argv[1]) == "--dialogs")) {
        std::fprintf(stderr, "usage: take_screenshot OUTPUT.png | --dialogs FOLDER\n");
        return 2;
    }
    CWebBrowser2::PrepareProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName("albumbrowser");
    if (argc == 3) return GrabDialogs(QString::fromLocal8Bit(argv[2]));
    DemoServiceProcess service;
    Workspace ws;
    ws.WriteConfig("[config]\r\ndetail=2\r\n[users]\r\nuser0=demo\r\nuser1=empty\r\nuser2=big\r\n");
    AlbumCatalogue catalogue;
    CAlbumBrowserDlg window(catalogue, ws.path(), ZorbiService(service.baseUrl(), service.baseUrl()));
    if (!ShowMainWindow(window)) return 1;
    ModalAnswerer answerer;
    answerer.AnswerMessageBoxes();
    window.userList()->setCurrentRow(0);
    window.findChild<QPushButton*>("updateButton")->click();
    window.albumList()->selectRow(0);
    if (!WaitForLoad(window.browser())) return 1;
    for (int i = 0; i < 500; ++i) {
        if (RunScript(window.browser(), "Array.from(document.images).every(i => i.complete)").toBool()) break;
        QTest::qWait(20);
    }
    QTest::qWait(500);
    const QRect frame = window.frameGeometry();
    const QPixmap shot = window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    return shot.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
