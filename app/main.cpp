#include <QApplication>
#include <QTimer>

#include "app/album_browser_app.h"
#include "catalogue/album_catalogue.h"
#include "ui/album_browser_dlg.h"
#include "ui/web_browser2.h"

int main(int argc, char** argv) {
    CWebBrowser2::PrepareProcess();
    QApplication application(argc, argv);
    // The program's name is the executable's: message boxes without a title carry it.
    QApplication::setApplicationName(QStringLiteral("albumbrowser"));
    static AlbumCatalogue catalogue;
    CAlbumBrowserApp app(catalogue);
    app.InitInstance();
    return 0;
}
