#include "gui_test_support.h"

#include <QAbstractButton>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include "platform/codepage.h"
#include "ui/album_browser_dlg.h"

std::string Gbk(const char* utf8) {
    return Utf8ToGbk(utf8);
}

void Workspace::WriteConfig(const std::string& text) const {
    QFile out(file("config.ini"));
    out.open(QIODevice::WriteOnly | QIODevice::Truncate);
    out.write(text.data(), static_cast<qint64>(text.size()));
}

std::string Workspace::ReadFile(const QString& name) const {
    QFile f(file(name));
    if (!f.open(QIODevice::ReadOnly)) return std::string();
    return f.readAll().toStdString();
}

std::string Workspace::ReadConfig() const {
    return ReadFile("config.ini");
}

void Workspace::WriteCachedUser(const std::string& user,
                                const std::vector<std::pair<std::string, int>>& albums) const {
    const QDir base(file(QString::fromStdString(user) + "/rest"));
    QDir().mkpath(base.filePath("albums"));
    QDir().mkpath(base.filePath("photos"));
    auto write = [](const QString& name, const std::string& text) {
        QFile f(name);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(text.data(), static_cast<qint64>(text.size()));
    };
    write(base.filePath("user.xml"),
          "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<rsp stat=\"ok\"><user id=\"" + user +
              "@N01\"><username>" + user + "</username></user></rsp>\n");
    std::string list = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<rsp stat=\"ok\"><albums>\n";
    for (size_t a = 0; a < albums.size(); ++a) {
        const std::string id = "al" + std::to_string(a + 1);
        list += "<album id=\"" + id + "\" photos=\"" + std::to_string(albums[a].second) + "\"><title>" +
                albums[a].first + "</title></album>\n";
        std::string photos = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<rsp stat=\"ok\"><album id=\"" +
                             id + "\"><photos>\n";
        for (int p = 0; p < albums[a].second; ++p) {
            const std::string n = std::to_string(p + 1);
            photos += "<photo id=\"" + id + "p" + n + "\" dir=\"d" + std::to_string(a + 1) +
                      "\" filename=\"f" + n + "\" title=\"照片" + n + "\" />\n";
        }
        write(base.filePath(QString::fromStdString("albums/" + id + ".xml")),
              photos + "</photos></album></rsp>\n");
    }
    write(base.filePath("list.xml"), list + "</albums></rsp>\n");
}

FakeXdgOpen::FakeXdgOpen(int status) : path_(qgetenv("PATH")) {
    SetStatus(status);
    qputenv("PATH", QByteArray::fromStdString(bin_.path() + ":") + path_);
}

FakeXdgOpen::~FakeXdgOpen() {
    qputenv("PATH", path_);
}

void FakeXdgOpen::SetStatus(int status) {
    QFile script(QString::fromStdString(bin_ / "xdg-open"));
    script.open(QIODevice::WriteOnly | QIODevice::Truncate);
    script.write("#!/bin/sh\necho \"$1\" >> \"$0.args\"\nexit " + QByteArray::number(status) + "\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QStringList FakeXdgOpen::Opened() const {
    QFile args(QString::fromStdString(bin_ / "xdg-open.args"));
    if (!args.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(args.readAll()).split('\n', Qt::SkipEmptyParts);
}

ModalAnswerer::ModalAnswerer() {
    connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::Poll);
    timer_.start(10);
}

void ModalAnswerer::AnswerMessageBoxes(QMessageBox::StandardButton button) {
    answerBoxes_ = true;
    button_ = button;
}

void ModalAnswerer::OnceOn(const char* className, std::function<void(QWidget*)> act) {
    rules_.emplace_back(className, std::move(act));
}

void ModalAnswerer::Poll() {
    if (pending_) return;
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    for (size_t i = 0; i < rules_.size(); ++i) {
        if (modal->inherits(rules_[i].first.constData())) {
            auto act = std::move(rules_[i].second);
            rules_.erase(rules_.begin() + static_cast<std::ptrdiff_t>(i));
            seen.push_back({modal->metaObject()->className(), modal->windowTitle(), QString()});
            // Acted on outside this timer's event, so that a window the action opens is answered too.
            pending_ = true;
            QMetaObject::invokeMethod(
                this,
                [this, act = std::move(act), window = QPointer<QWidget>(modal)] {
                    pending_ = false;
                    if (window) act(window);
                },
                Qt::QueuedConnection);
            return;
        }
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal); box && answerBoxes_) {
        seen.push_back({"QMessageBox", box->windowTitle(), box->text()});
        QAbstractButton* button = box->button(button_);
        if (!button) button = box->buttons().value(0);
        if (button) button->click();
    }
}

bool ShowMainWindow(CAlbumBrowserDlg& window) {
    window.settings().Load();
    window.OnInitDialog();
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

bool WaitForLoad(CWebBrowser2* browser) {
    QSignalSpy spy(browser, &QWebEngineView::loadFinished);
    return spy.wait(30000) && spy.first().value(0).toBool();
}

QVariant RunScript(CWebBrowser2* browser, const QString& script) {
    bool done = false;
    QVariant result;
    // A world of its own: the page's world runs no script, and the application's holds the pane's.
    browser->page()->runJavaScript(script, QWebEngineScript::UserWorld, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    for (int i = 0; i < 3000 && !done; ++i) QTest::qWait(10);
    return result;
}

void DoubleClickPage(CWebBrowser2* browser, const QPoint& point) {
    QWidget* target = browser->focusProxy() ? browser->focusProxy() : browser;
    const QPointF local(point);
    const QPointF global(target->mapToGlobal(point));
    ulong stamp = 1000;
    auto send = [&](QEvent::Type type, Qt::MouseButtons buttons) {
        QMouseEvent event(type, local, local, global, Qt::LeftButton, buttons, Qt::NoModifier);
        event.setTimestamp(stamp += 20);
        QApplication::sendEvent(target, &event);
    };
    send(QEvent::MouseButtonPress, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::NoButton);
    send(QEvent::MouseButtonPress, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::NoButton);
}

struct PictureServer::Impl {
    QTcpServer server;
    QByteArray png;
    int requests = 0;
};

PictureServer::PictureServer() : impl_(new Impl) {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QBuffer buffer(&impl_->png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    impl_->server.listen(QHostAddress::LocalHost, 0);
    Impl* impl = impl_;
    QObject::connect(&impl_->server, &QTcpServer::newConnection, [impl] {
        while (QTcpSocket* socket = impl->server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [impl, socket] {
                if (!socket->peek(65536).contains("\r\n\r\n")) return;
                socket->readAll();
                ++impl->requests;
                socket->write(
                    "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nConnection: close\r\nContent-Length: " +
                    QByteArray::number(impl->png.size()) + "\r\n\r\n" + impl->png);
                socket->disconnectFromHost();
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

PictureServer::~PictureServer() {
    delete impl_;
}

QString PictureServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(impl_->server.serverPort());
}

int PictureServer::requests() const {
    return impl_->requests;
}
