#pragma once
// What the desktop program's tests share: the process set-up, a start-up folder with config.ini and a
// cached user, answering modal windows, and waiting for the preview pane.
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "ui/app_resources.h"
#include "ui/web_browser2.h"

// A main() for a QtTest class: the web engine's set-up must come before the application object; Qt's
// own texts are Chinese, as in the program.
#define GUI_TEST_MAIN(TestClass)                          \
    int main(int argc, char** argv) {                     \
        CWebBrowser2::PrepareProcess();                   \
        QApplication app(argc, argv);                     \
        QApplication::setApplicationName("albumbrowser"); \
        InstallQtTranslations();                          \
        TestClass test;                                   \
        return QTest::qExec(&test, argc, argv);           \
    }

// A start-up folder of its own (the folder of config.ini and the output folder).
class Workspace {
  public:
    std::string path() const { return dir_.path(); }
    QString file(const QString& name) const { return QString::fromStdString(dir_.path()) + "/" + name; }
    void WriteConfig(const std::string& text) const;
    std::string ReadConfig() const;
    // A user's cache as an update leaves it: user.xml, list.xml and one photo list per album.
    // `albums` holds (title, photo count) pairs; photo addresses point at `pictureDirBase`.
    void WriteCachedUser(const std::string& user,
                         const std::vector<std::pair<std::string, int>>& albums) const;
    std::string ReadFile(const QString& name) const;

  private:
    TempDir dir_{"gui-test"};
};

// An xdg-open first on PATH while the object lives: each run adds its argument to a list and exits
// with the status last set.
class FakeXdgOpen {
  public:
    explicit FakeXdgOpen(int status = 0);
    ~FakeXdgOpen();
    void SetStatus(int status);
    // The arguments of the runs so far, one a run.
    QStringList Opened() const;

  private:
    TempDir bin_{"fake-xdg-open"};
    QByteArray path_;
};

// Answers modal windows as they open: each rule is tried on every visible modal window, the first that
// matches acts on it. Everything it answered is recorded.
class ModalAnswerer : public QObject {
    Q_OBJECT
  public:
    struct Seen {
        QString className;
        QString title;
        QString text;
    };

    ModalAnswerer();
    // Message boxes: answered with `button`; their title and text are recorded.
    void AnswerMessageBoxes(QMessageBox::StandardButton button = QMessageBox::Ok);
    // A window of a class (by its class name): `act` runs on it once, then the rule is dropped.
    void OnceOn(const char* className, std::function<void(QWidget*)> act);

    std::vector<Seen> seen;

  private:
    void Poll();
    QTimer timer_;
    bool answerBoxes_ = false;
    bool pending_ = false;
    QMessageBox::StandardButton button_ = QMessageBox::Ok;
    std::vector<std::pair<QByteArray, std::function<void(QWidget*)>>> rules_;
};

class CAlbumBrowserDlg;
// Loads the settings, prepares and shows the main window as the program's start does; false when it
// never shows.
bool ShowMainWindow(CAlbumBrowserDlg& window);

// Waits for the next page load of the pane; false when none comes.
bool WaitForLoad(CWebBrowser2* browser);
// Runs script on the pane's page (in a world of the tests' own) and waits for its result.
QVariant RunScript(CWebBrowser2* browser, const QString& script);
// A double click on a point of the page, as the user makes it.
void DoubleClickPage(CWebBrowser2* browser, const QPoint& point);

// A loopback picture host: every GET gets a small PNG; it counts the requests.
class PictureServer {
  public:
    PictureServer();
    ~PictureServer();
    QString baseUrl() const;
    int requests() const;

  private:
    struct Impl;
    Impl* impl_;
};

// The GBK bytes of a UTF-8 text, for fixtures.
std::string Gbk(const char* utf8);
