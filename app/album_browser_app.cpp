#include "app/album_browser_app.h"

#include <QApplication>
#include <QCoreApplication>

#include "catalogue/zorbi_service.h"
#include "net/percent_encode.h"
#include "platform/file_util.h"
#include "ui/album_browser_dlg.h"
#include "ui/app_resources.h"
#include "ui/dialog_template.h"
#include "ui/gbk_text.h"
#include "ui/message_box.h"
#include "ui/skin.h"
#include "ui/web_browser2.h"

bool CAlbumBrowserApp::InitInstance() {
    InstallQtTranslations();
    startupDirectory_ = CurrentDirectory();
    if (!InitNetwork()) {
        ShowMessage(nullptr, QStringLiteral("Windows 通信端口初始化失败。"), QString(),
                    QMessageBox::Critical);
        return false;
    }
    InitUiResources();
    QApplication::setFont(DialogFont());
    QApplication::setWindowIcon(AppIcon());
    {
        CAlbumBrowserDlg mainWindow(catalogue_, startupDirectory_, ZorbiService::FromEnvironment());
        const std::string loadFailure = mainWindow.settings().Load();
        if (!loadFailure.empty()) ShowMessage(nullptr, FromGbk(loadFailure), QString(), QMessageBox::Warning);
        SkinStart(mainWindow.settings().skinFile);
        // Start-up measurements end the run once the first preview page has loaded.
        if (qEnvironmentVariableIsSet("ALBUMBROWSER_EXIT_AFTER_FIRST_PAGE")) {
            QObject::connect(mainWindow.browser(), &QWebEngineView::loadFinished, &mainWindow,
                             &QDialog::reject);
        }
        mainWindow.DoModal();
        SkinStop();
    }
    ShutDownNetwork();
    return false;
}
