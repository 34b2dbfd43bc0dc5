// Takes docs/settings-dialog.png: the settings dialog with its window frame, filled from a sample
// config.ini. Run under xvfb-run with a window manager; writes the PNG named on the command line.
#include <QPixmap>
#include <QScreen>
#include <cstdio>

#include "gui_test_support.h"
#include "ui/settings_dlg.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: settings_screenshot OUTPUT.png\n");
        return 2;
    }
    CWebBrowser2::PrepareProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName("albumbrowser");
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
    QTest::qWait(500);  // the window manager's frame
    const QRect frame = dialog.frameGeometry();
    const QPixmap shot = dialog.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    return shot.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
