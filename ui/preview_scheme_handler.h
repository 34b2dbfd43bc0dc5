#pragma once
// Serves the preview page, and nothing but that one file, under the application's own URL scheme, so
// that it is read as GBK whatever its bytes and has no access to other local files. The pane gets it
// with a policy that runs none of its script and with its pictures loading lazily; the file stays.
// Instead of the file it may serve a page of the program's own (UTF-8), under the same policy.
#include <QString>
#include <QWebEngineUrlSchemeHandler>

class PreviewSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
  public:
    static constexpr const char* kScheme = "albumpreview";

    // Registers the scheme; must run before the application object is made.
    static void RegisterScheme();

    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    // The file served from now on (a path as the operating system takes it).
    void SetFile(const QString& osPath) {
        file_ = osPath;
        page_.clear();
    }
    // The page served from now on instead of a file.
    void SetPage(const QByteArray& utf8Html) {
        file_.clear();
        page_ = utf8Html;
    }

    void requestStarted(QWebEngineUrlRequestJob* job) override;

  private:
    QString file_;
    QByteArray page_;
};
