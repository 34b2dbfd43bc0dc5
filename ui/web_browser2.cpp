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

// The preview's double click, done by the program's own script, as the page's script never runs (the
// scheme handler serves it with a policy against that; switching script off instead would also stop
// the pictures' lazy loading). An element's ondblclick of the form clip("text") puts the text on the
// clipboard, then shows the alert that the page's clip() holds, if it holds one. The page's clip() is
// in its first script: a title's script comes later.
const char kDoubleClickScript[] = R"JS(
(function () {
  var bridge = null, pending = [];
  new QWebChannel(qt.webChannelTransport, function (channel) {
    bridge = channel.objects.clipboard;
    pending.forEach(function (text) { bridge.setData('text', text); });
    pending = [];
  });
  // A string literal's body as the script engine reads it.
  function unquote(body) {
    return body.replace(/\\(u[0-9a-fA-F]{4}|x[0-9a-fA-F]{2}|[\s\S])/g, function (all, e) {
      if (e.length > 1) return String.fromCharCode(parseInt(e.slice(1), 16));
      return { n: '\n', r: '\r', t: '\t', b: '\b', f: '\f', v: '\v', '0': '\0' }[e] || e;
    });
  }
  function clipArgument(handler) {
    var call = /^\s*(?:javascript:)?\s*clip\(\s*(["'])([\s\S]*)\1\s*\)\s*;?\s*$/.exec(handler || '');
    return call ? unquote(call[2]) : null;
  }
  function alertText() {
    var script = document.scripts[0];
    var clip = script && /function\s+clip\s*\([^)]*\)\s*\{([\s\S]*?)\}/.exec(script.text);
    var alert = clip && /alert\(\s*(["'])([\s\S]*?)\1\s*\)/.exec(clip[1]);
    return alert ? unquote(alert[2]) : null;
  }
  document.addEventListener('dblclick', function (event) {
    for (var node = event.target; node && node.nodeType === 1; node = node.parentNode) {
      var text = clipArgument(node.getAttribute('ondblclick'));
      if (text === null) continue;
      if (bridge) bridge.setData('text', text); else pending.push(text);
      var message = alertText();
      if (message !== null) window.alert(message);
    }
  }, true);
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
    script.setName(QStringLiteral("doubleClick"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(ChannelScriptSource() + QString::fromUtf8(kDoubleClickScript));
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
    page_->setWebChannel(channel_, QWebEngineScript::ApplicationWorld);
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

void CWebBrowser2::ShowPage(const QByteArray& utf8Html) {
    schemeHandler_->SetPage(utf8Html);
    QUrl url;
    url.setScheme(QLatin1String(PreviewSchemeHandler::kScheme));
    url.setPath(QStringLiteral("/welcome.htm"));
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
