#include "ui/preview_web_page.h"

#include <QUrl>
#include <QWebEngineView>

#include "ui/message_box.h"
#include "ui/preview_scheme_handler.h"
#include "ui/shell_open.h"

PreviewWebPage::PreviewWebPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {}

bool PreviewWebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    if (url.scheme() == QLatin1String(PreviewSchemeHandler::kScheme)) return true;
    // A link the user follows goes to the system's browser; the pane keeps its page.
    const QString scheme = url.scheme();
    const bool external = scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                          scheme == QLatin1String("mailto");
    if (isMainFrame && external && type == NavigationTypeLinkClicked && userActed) {
        userActed = false;
        ShellOpenUrl(url, QWebEngineView::forPage(this));
    }
    return false;
}

void PreviewWebPage::javaScriptAlert(const QUrl&, const QString& msg) {
    if (alertHandler) {
        alertHandler(msg);
        return;
    }
    ShowMessage(QWebEngineView::forPage(this), msg, QString(), QMessageBox::Warning);
}

QWebEnginePage* PreviewWebPage::createWindow(WebWindowType) {
    return nullptr;
}
