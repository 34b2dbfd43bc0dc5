#pragma once
// The page of the preview pane: it stays on its own page, opens no windows, and shows its alerts
// through a replaceable handler.
#include <QWebEnginePage>
#include <functional>

class PreviewWebPage : public QWebEnginePage {
    Q_OBJECT
  public:
    PreviewWebPage(QWebEngineProfile* profile, QObject* parent);

    // Shows the page's alert(); a message box unless replaced.
    std::function<void(const QString&)> alertHandler;
    // Set by a click or key press of the user in the pane; one external opening uses it up, so that a
    // page's script cannot open windows of the system's browser on its own.
    bool userActed = false;

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    // Dropped: every load reports the page's script refused, as it is meant to be.
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                  const QString&) override {}
    QWebEnginePage* createWindow(WebWindowType type) override;
};
