#pragma once
// The preview pane: shows the preview file with its remote pictures, loaded as they scroll into view.
// The page's own script never runs; the pane's own script does what a double click on clip("...")
// promises (the clipboard, the page's alert). Nothing else of the machine or the network is in reach.
#include <QWebEngineView>
#include <functional>
#include <string>

class ClipboardBridge;
class PreviewRequestInterceptor;
class PreviewSchemeHandler;
class PreviewWebPage;
class QWebChannel;
class QWebEngineProfile;

class CWebBrowser2 : public QWebEngineView {
    Q_OBJECT
  public:
    // What must happen before the application object is made: the sandbox switch when running as
    // root, the pane's URL scheme and shared GL contexts.
    static void PrepareProcess();

    explicit CWebBrowser2(QWidget* parent = nullptr);
    ~CWebBrowser2() override;

    // Shows the file (a GBK path) in the pane, replacing what it showed; returns before the page loads.
    void Navigate(const std::string& gbkPath);
    // Shows a page of the program's own (UTF-8 HTML, under the same rules as the preview) instead.
    void ShowPage(const QByteArray& utf8Html);

    // Replaces the message box of the page's alert() (tests answer it themselves).
    void SetAlertHandler(std::function<void(const QString&)> handler);

    PreviewWebPage* previewPage() const { return page_; }
    ClipboardBridge* clipboardBridge() const { return bridge_; }

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWebEngineProfile* profile_;
    PreviewSchemeHandler* schemeHandler_;
    PreviewRequestInterceptor* interceptor_;
    ClipboardBridge* bridge_;
    QWebChannel* channel_;
    PreviewWebPage* page_;
    quint64 serial_ = 0;
};
