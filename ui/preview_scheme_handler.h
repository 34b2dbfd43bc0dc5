#pragma once
// Serves the preview page, and nothing but that one file, under the application's own URL scheme, so
// that it is read as GBK whatever its bytes and has no access to other local files. The pane gets it
// with a policy that runs none of its script and with its pictures loading lazily; the file stays.
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
    void SetFile(const QString& osPath) { file_ = osPath; }

    void requestStarted(QWebEngineUrlRequestJob* job) override;

  private:
    QString file_;
};
