#include "ui/web_browser2.h"

#include <unistd.h>

#include <QChildEvent>
#include <QCoreApplication>
#include <QFile>
#include <QUrl>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

#include "platform/file_util.h"
#include "ui/clipboard_bridge.h"
#include "ui/message_box.h"
#include "ui/preview_request_interceptor.h"
#include "ui/preview_scheme_handler.h"
#include "ui/preview_web_page.h"

namespace {

// The old clipboardData global of the page's clip(), frozen so that the page cannot replace it.
const char kClipboardScript[] = R"JS(
(function () {
  var bridge = null, pending = [];
  new QWebChannel(qt.webChannelTransport, function (channel) {
    bridge = channel.objects.clipboard;
    pending.forEach(function (p) { bridge.setData(p[0], p[1]); });
    pending = [];
  });
  var clipboardData = Object.freeze({
    setData: function (format, text) {
      format = String(format); text = String(text);
      if (bridge) bridge.setData(format, text); else pending.push([format, text]);
      return true;
    },
    getData: function () { return ''; },
    clearData: function () { return false; }
  });
  Object.defineProperty(window, 'clipboardData',
                        { value: clipboardData, writable: false, configurable: false });
})();
)JS";

QString ChannelScriptSource() {
    QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return QString::fromUtf8(file.readAll());
}

}  // namespace

void CWebBrowser2::PrepareProcess() {
    // QtWebEngine refuses to start as root inside its sandbox.
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    PreviewSchemeHandler::RegisterScheme();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

CWebBrowser2::CWebBrowser2(QWidget* parent)
    : QWebEngineView(parent),
      profile_(new QWebEngineProfile()),  // off the record: nothing is kept on disk
      schemeHandler_(new PreviewSchemeHandler(profile_)),
      interceptor_(new PreviewRequestInterceptor(profile_)),
      bridge_(new ClipboardBridge(this)),
      channel_(new QWebChannel(this)) {
    profile_->installUrlSchemeHandler(PreviewSchemeHandler::kScheme, schemeHandler_);
    profile_->setUrlRequestInterceptor(interceptor_);
    profile_->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    profile_->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);

    QWebEngineScript script;
    script.setName(QStringLiteral("clipboardData"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(ChannelScriptSource() + QString::fromUtf8(kClipboardScript));
    profile_->scripts()->insert(script);

    page_ = new PreviewWebPage(profile_, this);
    QWebEngineSettings* settings = page_->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    settings->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    settings->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
    channel_->registerObject(QStringLiteral("clipboard"), bridge_);
    page_->setWebChannel(channel_, QWebEngineScript::MainWorld);
    page_->alertHandler = [this](const QString& text) {
        ShowMessage(this, text, QString(), QMessageBox::Warning);
    };
    setPage(page_);
    setContextMenuPolicy(Qt::NoContextMenu);
}

CWebBrowser2::~CWebBrowser2() {
    // The page must go before its profile.
    delete page_;
    delete profile_;
}

void CWebBrowser2::Navigate(const std::string& gbkPath) {
    schemeHandler_->SetFile(QString::fromStdString(ToOsPath(gbkPath)));
    QUrl url;
    url.setScheme(QLatin1String(PreviewSchemeHandler::kScheme));
    url.setPath(QLatin1Char('/') + QString::fromStdString(ToOsPath(BaseName(gbkPath))));
    // A fresh address each time: the page is read again even when the path is the same.
    url.setQuery(QStringLiteral("n=%1").arg(++serial_));
    page_->load(url);
}

bool CWebBrowser2::event(QEvent* event) {
    // The widget that takes the page's input appears with the page; watch it for the user's actions.
    if (event->type() == QEvent::ChildAdded) {
        if (QObject* child = static_cast<QChildEvent*>(event)->child(); child && child->isWidgetType()) {
            child->installEventFilter(this);
        }
    }
    return QWebEngineView::event(event);
}

bool CWebBrowser2::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonRelease || type == QEvent::KeyPress) page_->userActed = true;
    return QWebEngineView::eventFilter(watched, event);
}

void CWebBrowser2::SetAlertHandler(std::function<void(const QString&)> handler) {
    page_->alertHandler = std::move(handler);
}
