// The main window driven as the user drives it: jobs with their progress window and message boxes,
// the album list, the format and size choices against the template box and temp.htm, the user list
// against config.ini, and the clipboard text.
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <memory>

#include "catalogue/album_catalogue.h"
#include "demo_service_process.h"
#include "gui_test_support.h"
#include "output/link_format.h"
#include "test_files.h"
#include "ui/album_browser_dlg.h"
#include "ui/clip_text_dlg.h"
#include "ui/gbk_text.h"
#include "ui/my_thread.h"
#include "ui/progress_dlg.h"

namespace {

const char kPictureHost[] = "http://127.0.0.1:9";

// A worker whose thread cannot be started.
class UnstartableThread : public CMyThread {
  public:
    bool Start() override { return false; }
};

class UnstartableWindow : public CAlbumBrowserDlg {
  public:
    using CAlbumBrowserDlg::CAlbumBrowserDlg;

  protected:
    CMyThread* CreateWorker() override { return new UnstartableThread(); }
};

// Records whether the progress window was shown, and shown modally.
class ShowWatcher : public QObject {
  public:
    int shown = 0;
    bool modal = false;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            ++shown;
            modal = static_cast<QWidget*>(watched)->isModal();
        }
        return false;
    }
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<Workspace> ws_;
    std::unique_ptr<AlbumCatalogue> catalogue_;
    std::unique_ptr<CAlbumBrowserDlg> window_;

    template <class Window = CAlbumBrowserDlg>
    void Open(const std::string& endpoint = kPictureHost, const std::string& pictures = kPictureHost) {
        window_ = std::make_unique<Window>(*catalogue_, ws_->path(), ZorbiService(endpoint, pictures));
        QVERIFY(ShowMainWindow(*window_));
    }

    void SelectUser(const QString& name) {
        QList<QListWidgetItem*> items = window_->userList()->findItems(name, Qt::MatchExactly);
        QVERIFY(!items.isEmpty());
        window_->userList()->setCurrentItem(items.first());
    }

    // A control of the window by its object name in the form; a missing one ends the run with its name.
    template <class Widget>
    Widget* Child(const char* name) {
        Widget* widget = window_->findChild<Widget*>(name);
        if (!widget) qFatal("the main window has no %s named %s", Widget::staticMetaObject.className(), name);
        return widget;
    }
    QPushButton* Button(const char* name) { return Child<QPushButton>(name); }
    QRadioButton* Radio(const char* name) { return Child<QRadioButton>(name); }
    QLineEdit* TemplateBox() { return Child<QLineEdit>("templateEdit"); }
    // The line under the user list, and whether the user's row carries the mark of a failed backup.
    QString BackupLine() { return Child<QLabel>("backupStatusLabel")->text(); }
    bool Marked(const QString& user) {
        return !window_->userList()->findItems(user, Qt::MatchExactly).first()->icon().isNull();
    }
    std::string TempPage() { return ws_->ReadFile("temp.htm"); }

  private slots:
    void init() {
        ws_ = std::make_unique<Workspace>();
        catalogue_ = std::make_unique<AlbumCatalogue>();
        ws_->WriteConfig("[users]\r\nuser0=Alice\r\nuser3=bobby\r\nuser5=bob\r\n");
        ws_->WriteCachedUser("Alice", {{"春天", 3}, {"Second", 2}});
    }

    void cleanup() {
        window_.reset();
        catalogue_.reset();
        ws_.reset();
    }

    void openingListsUsersAndBuildsTheEmptyPreview() {
        Open();
        QListWidget* users = window_->userList();
        QCOMPARE(users->count(), 3);
        QCOMPARE(users->item(0)->text(), QStringLiteral("Alice"));
        QCOMPARE(users->item(2)->text(), QStringLiteral("bob"));
        QVERIFY(users->selectedItems().isEmpty());
        QVERIFY(BackupLine().isEmpty());
        SelectUser("Alice");
        QCOMPARE(BackupLine(), QStringLiteral("还没有备份"));
        QVERIFY(!Marked("Alice"));
        users->setCurrentRow(-1, QItemSelectionModel::Clear);
        QVERIFY(Radio("sizeRadio2")->isChecked());
        QVERIFY(Radio("formatRadio3")->isChecked());
        QCOMPARE(ToGbk(TemplateBox()->text()), FormatTemplates()[PreviewFormatIndex]);
        const std::string page = TempPage();
        QVERIFY(page.rfind("<html>", 0) == 0);
        QVERIFY(page.find("<img") == std::string::npos);
        QCOMPARE(ToGbk(QGuiApplication::clipboard()->text()), page);
        // Columns of two thirds and one third of the list's width.
        QTableWidget* albums = window_->albumList();
        QCOMPARE(albums->columnWidth(0), 2 * albums->frameGeometry().width() / 3);
        QCOMPARE(albums->columnWidth(1), albums->frameGeometry().width() / 3);
    }

    void localRebuildRunsWithProgressAndFillsTheList() {
        Open();
        ShowWatcher watcher;
        window_->progressDlg().installEventFilter(&watcher);
        ModalAnswerer answerer;
        answerer.AnswerMessageBoxes();
        SelectUser("Alice");
        Button("importLocalButton")->click();
        QCOMPARE(watcher.shown, 1);
        QVERIFY(watcher.modal);
        QVERIFY(!window_->progressDlg().isVisible());
        QCOMPARE(answerer.seen.size(), size_t(1));
        QCOMPARE(answerer.seen[0].title, QStringLiteral("信息"));
        QCOMPARE(answerer.seen[0].text, FromGbk(window_->progressDlg().resultText));
        QVERIFY(!answerer.seen[0].text.isEmpty());
        QVERIFY(!window_->progressDlg().interruptRequested);

        QTableWidget* albums = window_->albumList();
        QCOMPARE(albums->rowCount(), 2);
        QCOMPARE(albums->item(0, 0)->text(), QStringLiteral("春天"));
        QCOMPARE(albums->item(0, 1)->text(), QStringLiteral("3"));
        QCOMPARE(albums->item(1, 1)->text(), QStringLiteral("2"));
        // The preview shows album 0 in size 2, and the clipboard holds the page.
        std::string page = TempPage();
        QVERIFY(page.find("/d1/f3/big.jpg") != std::string::npos);
        QCOMPARE(ToGbk(QGuiApplication::clipboard()->text()), page);

        albums->selectRow(1);
        page = TempPage();
        QVERIFY(page.find("/d2/f2/big.jpg") != std::string::npos);
        QVERIFY(page.find("/d1/") == std::string::npos);
        QCOMPARE(window_->albumIndex, 1);

        // A double click opens the album's page in the folder named as the user was chosen.
        {
            FakeXdgOpen opener;
            emit albums->cellDoubleClicked(1, 0);
            QTRY_COMPARE_WITH_TIMEOUT(opener.Opened().size(), 1, 30000);
            QCOMPARE(QUrl(opener.Opened().first()).toLocalFile(), ws_->file("Alice/al2_3.htm"));
        }

        // Double clicking the user name runs the same job again.
        answerer.seen.clear();
        emit window_->userList()->itemDoubleClicked(window_->userList()->currentItem());
        QCOMPARE(answerer.seen.size(), size_t(1));
        QCOMPARE(answerer.seen[0].title, QStringLiteral("信息"));
        QCOMPARE(albums->rowCount(), 2);
    }

    void jobsWithoutAUserOnlyAsk() {
        Open();
        ModalAnswerer answerer;
        answerer.AnswerMessageBoxes();
        for (const char* name : {"importLocalButton", "updateButton", "viewLocalButton"})
            Button(name)->click();
        QCOMPARE(answerer.seen.size(), size_t(3));
        for (const auto& seen : answerer.seen) {
            QCOMPARE(seen.text, QStringLiteral("请从列表选择一个用户！"));
            QCOMPARE(seen.title, QStringLiteral("Zorbi浏览器"));
        }
        QVERIFY(catalogue_->userName.empty());
        QCOMPARE(window_->albumList()->rowCount(), 0);
    }

    void userListMenuVerifiesAndOpensTheGallery() {
        Open();
        QListWidget* users = window_->userList();
        QCOMPARE(users->contextMenuPolicy(), Qt::ActionsContextMenu);
        QAction* verify = users->findChild<QAction*>("verifyAction");
        QVERIFY(verify && users->actions().contains(verify));
        QCOMPARE(verify->text(), QStringLiteral("校验备份"));
        ShowWatcher watcher;
        window_->progressDlg().installEventFilter(&watcher);
        ModalAnswerer answerer;
        answerer.AnswerMessageBoxes();
        SelectUser("Alice");
        verify->trigger();
        QCOMPARE(watcher.shown, 1);
        QCOMPARE(answerer.seen.size(), size_t(1));
        QCOMPARE(answerer.seen[0].title, QStringLiteral("提示"));
        QCOMPARE(answerer.seen[0].text,
                 QStringLiteral(
                     "校验完成：0张图片完好，0张缺失，0张已损坏。缓存数据4个完好，0个缺失，0个无法读取。"));
        QVERIFY(QFile::exists(ws_->file("Alice/archive.sqlite")));

        // The gallery is opened only once an update has built it.
        QAction* gallery = users->findChild<QAction*>("galleryAction");
        QVERIFY(gallery && users->actions().contains(gallery));
        gallery->trigger();
        QCOMPARE(answerer.seen.size(), size_t(2));
        QCOMPARE(answerer.seen[1].text, QStringLiteral("此用户还没有相册画廊，请先联网更新相册。"));
    }

    void aWorkerThatCannotStartIsReported() {
        Open<UnstartableWindow>();
        ModalAnswerer answerer;
        answerer.AnswerMessageBoxes();
        SelectUser("Alice");
        Button("importLocalButton")->click();
        QCOMPARE(answerer.seen.size(), size_t(1));
        QCOMPARE(answerer.seen[0].title, QStringLiteral("界面线程错误"));
        QCOMPARE(answerer.seen[0].text, QStringLiteral("无法启动工作线程。"));
        QVERIFY(!window_->progressDlg().isVisible());
    }

    void formatAndSizeChoicesDriveTheTemplateBoxAndThePage() {
        Open();
        ModalAnswerer answerer;
        answerer.AnswerMessageBoxes();
        SelectUser("Alice");
        Button("importLocalButton")->click();

        Radio("formatRadio0")->click();  // URL
        QCOMPARE(TemplateBox()->text(), QStringLiteral("$url\r\n"));
        std::string page = TempPage();
        QVERIFY(page.find("/d1/f1/big.jpg\r\n<br>\r\n") != std::string::npos);
        QVERIFY(page.find("<img") == std::string::npos);

        Radio("sizeRadio0")->click();  // 小图
        QCOMPARE(window_->sizeIndex, 0);
        QVERIFY(TempPage().find("/d1/f1/small.jpg\r\n<br>\r\n") != std::string::npos);

        Radio("formatRadio1")->click();  // UBB
        QVERIFY(TempPage().find("[img]" + std::string(kPictureHost) + "/d1/f2/small.jpg[/img]") !=
                std::string::npos);

        // 自定义 keeps whatever the box holds.
        TemplateBox()->setText(QStringLiteral("<$no:$title>"));
        Radio("formatRadio4")->click();
        QCOMPARE(TemplateBox()->text(), QStringLiteral("<$no:$title>"));
        QVERIFY(TempPage().find(Gbk("<2:照片2>")) != std::string::npos);

        // 刷新 reads the box again after it was edited.
        TemplateBox()->setText(QStringLiteral("[$url]"));
        Button("refreshButton")->click();
        QVERIFY(TempPage().find("[" + std::string(kPictureHost) + "/d1/f3/small.jpg]") != std::string::npos);

        // Changing the check box alone rebuilds nothing; the next rebuild drops the alert.
        Radio("formatRadio3")->click();
        QVERIFY(TempPage().find("alert(") != std::string::npos);
        Child<QCheckBox>("copyAlertCheck")->click();
        QVERIFY(TempPage().find("alert(") != std::string::npos);
        Button("refreshButton")->click();
        QVERIFY(TempPage().find("alert(") == std::string::npos);
    }

    void writingMembersSelectsTheFirstUserWithThePrefix() {
        Open();
        SelectUser("bob");
        window_->UpdateData(true);
        QCOMPARE(window_->selectedUser, std::string("bob"));
        window_->UpdateData(false);
        QCOMPARE(window_->userList()->currentItem()->text(), QStringLiteral("bobby"));
    }

    void addAndDeleteUsersKeepConfigIni() {
        Open();
        ModalAnswerer answerer;
        answerer.AnswerMessageBoxes(QMessageBox::Yes);
        auto addUser = [&](const QString& typed) {
            answerer.OnceOn("CAddUserDlg", [typed](QWidget* dialog) {
                dialog->findChild<QLineEdit*>("nameEdit")->setText(typed);
                dialog->findChild<QPushButton*>("okButton")->click();
            });
            Button("addUserButton")->click();
        };
        addUser(QStringLiteral("  张三 "));
        QCOMPARE(window_->userList()->count(), 4);
        QCOMPARE(window_->userList()->item(3)->text(), QStringLiteral("张三"));
        QVERIFY(ws_->ReadConfig().find("user3=" + Gbk("张三") + "\r\n") != std::string::npos);
        QVERIFY(window_->userList()->selectedItems().isEmpty());

        addUser(QStringLiteral("   "));
        QCOMPARE(window_->userList()->count(), 4);
        addUser(QStringLiteral("a/b"));
        QCOMPARE(window_->userList()->count(), 4);
        QCOMPARE(answerer.seen.back().className, QStringLiteral("QMessageBox"));

        // Deleting with nothing selected only asks for a user.
        answerer.seen.clear();
        Button("deleteUserButton")->click();
        QCOMPARE(answerer.seen.size(), size_t(1));
        QCOMPARE(answerer.seen[0].text, QStringLiteral("请从列表选择一个用户！"));
        QCOMPARE(window_->userList()->count(), 4);

        // Enter at the confirmation keeps the user: No is its default.
        SelectUser("bobby");
        answerer.OnceOn("QMessageBox", [](QWidget* box) { QTest::keyClick(box, Qt::Key_Return); });
        Button("deleteUserButton")->click();
        QCOMPARE(answerer.seen.back().title, QStringLiteral("删除用户"));
        QCOMPARE(window_->userList()->count(), 4);

        SelectUser("bobby");
        Button("deleteUserButton")->click();
        QCOMPARE(window_->userList()->count(), 3);
        // Nobody chose the user after the deleted one: nothing is selected.
        QVERIFY(window_->userList()->selectedItems().isEmpty());
        QCOMPARE(window_->userList()->currentRow(), -1);
        const std::string config = ws_->ReadConfig();
        QVERIFY(config.find("user1=bob\r\n") != std::string::npos);
        QVERIFY(config.find("user2=" + Gbk("张三") + "\r\n") != std::string::npos);
        QVERIFY(config.find("user3=\r\n") != std::string::npos);

        // Answering No keeps the user.
        answerer.AnswerMessageBoxes(QMessageBox::No);
        SelectUser("bob");
        Button("deleteUserButton")->click();
        QCOMPARE(window_->userList()->count(), 3);
    }

    // Tab walks every control once and leaves the lists without moving their selection; the arrow
    // keys move inside them; Enter in the template box applies it; Esc leaves the window open.
    void keyboardRules() {
        Open();
        ModalAnswerer answerer;
        answerer.AnswerMessageBoxes();
        SelectUser("Alice");
        Button("importLocalButton")->click();
        QTableWidget* albums = window_->albumList();
        QCOMPARE(albums->rowCount(), 2);
        ShowWatcher watcher;
        window_->progressDlg().installEventFilter(&watcher);
        answerer.seen.clear();

        albums->setFocus();
        albums->setCurrentCell(0, 0);
        QTest::keyClick(albums, Qt::Key_Down);
        QCOMPARE(albums->currentRow(), 1);
        const QString clipboard = QGuiApplication::clipboard()->text();
        QTest::keyClick(albums, Qt::Key_Tab);
        QVERIFY(window_->focusWidget() != albums);
        QCOMPARE(albums->currentRow(), 1);
        QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);

        // The named control a focus widget belongs to (the preview pane's focus sits in a child).
        auto control = [&](QWidget* w) {
            while (w && w != window_.get() && w->objectName().isEmpty()) w = w->parentWidget();
            return w ? w->objectName() : QString();
        };
        const QStringList expected = {
            "userList",        "addUserButton",  "deleteUserButton", "viewLocalButton", "importLocalButton",
            "updateButton",    "albumList",      "sizeRadio0",       "sizeRadio1",      "sizeRadio2",
            "sizeRadio3",      "copyAlertCheck", "formatRadio0",     "formatRadio1",    "formatRadio2",
            "formatRadio3",    "formatRadio4",   "templateEdit",     "refreshButton",   "browser",
            "clipboardButton", "openPageButton", "settingsButton",   "helpButton",      "aboutButton",
            "exitButton"};
        window_->userList()->setFocus();
        QStringList visited;
        for (int i = 0; i < expected.size() && !visited.contains(control(window_->focusWidget())); ++i) {
            const QString here = control(window_->focusWidget());
            visited << here;
            QTest::keyClick(window_->focusWidget(), Qt::Key_Tab);
            // The page in the preview pane hands focus back on its own time.
            QTRY_VERIFY_WITH_TIMEOUT(control(window_->focusWidget()) != here, 5000);
        }
        QCOMPARE(visited.join(" "), expected.join(" "));
        QCOMPARE(window_->userList()->currentRow(), 0);

        TemplateBox()->setText(QStringLiteral("T:$url;"));
        TemplateBox()->setFocus();
        QTest::keyClick(TemplateBox(), Qt::Key_Return);
        QVERIFY(TempPage().find("T:http") != std::string::npos);
        QCOMPARE(watcher.shown, 0);
        QVERIFY(answerer.seen.empty());

        QTest::keyClick(window_.get(), Qt::Key_Escape);
        QTest::keyClick(albums, Qt::Key_Escape);
        QVERIFY(window_->isVisible());
        QCOMPARE(watcher.shown, 0);
    }

    // 取消 and Esc leave the preview, the clipboard and the template box as they were; 保存 applies a
    // custom format that is not empty.
    void closingTheSettings() {
        Open();
        ModalAnswerer answerer;
        answerer.AnswerMessageBoxes();
        SelectUser("Alice");
        Button("importLocalButton")->click();
        TemplateBox()->setText(QStringLiteral("T:$no;"));
        Button("refreshButton")->click();
        const std::string page = TempPage();
        QVERIFY(page.find("T:") != std::string::npos);
        const std::vector<std::function<void(QWidget*)>> closings = {
            [](QWidget* d) { d->findChild<QPushButton*>("cancelButton")->click(); },
            [](QWidget* d) { QTest::keyClick(d, Qt::Key_Escape); },
            [](QWidget* d) { d->findChild<QPushButton*>("saveButton")->click(); },
        };
        for (const auto& close : closings) {
            answerer.OnceOn("CSettingsDlg", close);
            Button("settingsButton")->click();
            QCOMPARE(TempPage(), page);
            QCOMPARE(ToGbk(QGuiApplication::clipboard()->text()), page);
            QCOMPARE(TemplateBox()->text(), QStringLiteral("T:$no;"));
        }
        answerer.OnceOn("CSettingsDlg", [](QWidget* d) {
            d->findChild<QLineEdit*>("customFormatEdit")->setText(QStringLiteral("C:$no;"));
            d->findChild<QPushButton*>("saveButton")->click();
        });
        Button("settingsButton")->click();
        QCOMPARE(TemplateBox()->text(), QStringLiteral("C:$no;"));
        QVERIFY(TempPage().find("C:") != std::string::npos);
    }

    // The window fits a 1024x600 screen with every control inside it and none over another; grown,
    // the preview and the album list take the room and the buttons stay at the bottom right.
    void resizing() {
        Open();
        const QSize least = window_->minimumSize();
        QVERIFY2(least.width() <= 1024 && least.height() <= 560,
                 qPrintable(QStringLiteral("%1x%2").arg(least.width()).arg(least.height())));
        QVERIFY(window_->maximumSize().width() > 2000);
        window_->resize(least);
        const QList<QWidget*> controls = window_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (QWidget* a : controls) {
            if (a->isWindow()) continue;
            QVERIFY2(window_->rect().contains(a->geometry()), qPrintable(a->objectName()));
            if (qobject_cast<QGroupBox*>(a)) continue;
            QVERIFY2(a->height() >= 15, qPrintable(a->objectName()));
            for (QWidget* b : controls) {
                if (a == b || b->isWindow() || qobject_cast<QGroupBox*>(b)) continue;
                QVERIFY2(!a->geometry().intersects(b->geometry()),
                         qPrintable(a->objectName() + " over " + b->objectName()));
            }
        }
        const QRect browser = window_->browser()->geometry();
        const int listHeight = window_->albumList()->height();
        window_->resize(1600, 1000);
        QCOMPARE(window_->browser()->width(), browser.width() + 1600 - least.width());
        QCOMPARE(window_->browser()->height(), browser.height() + 1000 - least.height());
        QCOMPARE(window_->albumList()->height(), listHeight + 1000 - least.height());
        const QRect exit = Button("exitButton")->geometry();
        QVERIFY(exit.right() > 1500 && exit.bottom() > 950);
    }

    // An opener that fails (no handler, or the handler's own failure) is reported; one that works is not.
    void aFailingOpenerIsReported() {
        Open();
        ModalAnswerer answerer;
        answerer.AnswerMessageBoxes();
        FakeXdgOpen opener(3);
        Button("helpButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(answerer.seen.size(), size_t(1), 30000);
        QVERIFY2(answerer.seen[0].text.startsWith(QStringLiteral("无法打开http")),
                 qPrintable(answerer.seen[0].text));
        opener.SetStatus(0);
        Button("openPageButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(opener.Opened().size(), 2, 30000);
        QCOMPARE(QUrl(opener.Opened()[1]).toLocalFile(), ws_->file("temp.htm"));
        QTest::qWait(200);
        QCOMPARE(answerer.seen.size(), size_t(1));
    }

    void clipboardTextIsShown() {
        Open();
        QGuiApplication::clipboard()->setText(QStringLiteral("第一行\r\nline two"));
        ModalAnswerer answerer;
        QString shown;
        answerer.OnceOn("CClipTextDlg", [&](QWidget* dialog) {
            shown = static_cast<CClipTextDlg*>(dialog)->ShownText();
            dialog->findChild<QPlainTextEdit*>("textEdit")->setPlainText("edited");
            dialog->findChild<QPushButton*>("okButton")->click();
        });
        Button("clipboardButton")->click();
        QCOMPARE(shown, QStringLiteral("第一行\nline two"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("第一行\r\nline two"));
    }

    void networkUpdateAgainstTheDemoService() {
        DemoServiceProcess service;
        ws_->WriteConfig("[config]\r\ndetail=0\r\n[users]\r\nuser0=demo\r\n");
        Open(service.baseUrl(), service.baseUrl());
        ModalAnswerer answerer;
        answerer.AnswerMessageBoxes();
        SelectUser("demo");
        Button("updateButton")->click();
        QCOMPARE(answerer.seen.size(), size_t(1));
        QCOMPARE(answerer.seen[0].title, QStringLiteral("提示"));
        QCOMPARE(window_->albumList()->rowCount(), 12);
        QVERIFY(TempPage().find(service.baseUrl() + "/") != std::string::npos);
        QVERIFY(QFile::exists(ws_->file("demo/rest/list.xml")));
        QVERIFY2(BackupLine().startsWith(QStringLiteral("上次备份：20")) &&
                     BackupLine().endsWith(QStringLiteral("，完整")),
                 qPrintable(BackupLine()));
        QVERIFY(!Marked("demo"));
    }

    void aServiceErrorInChineseIsShownAsSent() {
        WriteFile(ws_->path() + "/raw/zorbi.people.findByUsername/wang.xml",
                  "<?xml version=\"1.0\" encoding=\"utf-8\"?><rsp stat=\"fail\"><err code=\"1\" "
                  "msg=\"用户不存在\"/></rsp>");
        DemoServiceProcess service({"--raw", ws_->path() + "/raw"});
        ws_->WriteConfig("[users]\r\nuser0=wang\r\n");
        Open(service.baseUrl(), service.baseUrl());
        ModalAnswerer answerer;
        answerer.AnswerMessageBoxes();
        SelectUser("wang");
        Button("updateButton")->click();
        QCOMPARE(window_->progressDlg().StatusText(), QStringLiteral("用户不存在"));
        QCOMPARE(answerer.seen.size(), size_t(1));
        QCOMPARE(answerer.seen[0].text, QStringLiteral("用户不存在"));
        // The user is marked, with the reason, until a run ends complete.
        QVERIFY2(BackupLine().endsWith(QStringLiteral("，未完成")), qPrintable(BackupLine()));
        QVERIFY(Marked("wang"));
        QVERIFY(
            window_->userList()->item(0)->toolTip().endsWith(QStringLiteral("未完成（失败）：用户不存在")));
    }

    void aFirstRunShowsHowToBeginAndKeepsTempHtm() {
        ws_->WriteConfig("[config]\r\ndetail=0\r\n");
        window_ = std::make_unique<CAlbumBrowserDlg>(*catalogue_, ws_->path(),
                                                     ZorbiService(kPictureHost, kPictureHost));
        QSignalSpy loads(window_->browser(), &QWebEngineView::loadFinished);
        QVERIFY(ShowMainWindow(*window_));
        QVERIFY(loads.count() > 0 || loads.wait(30000));
        const QString page =
            RunScript(window_->browser(), QStringLiteral("document.body.innerText")).toString();
        QVERIFY2(page.contains(QStringLiteral("增加用户")) && page.contains(QStringLiteral("联网更新相册")),
                 qPrintable(page));
        QVERIFY(page.contains(QString::fromStdString(ws_->path())));
        // The design's empty preview still goes to temp.htm and the clipboard.
        QVERIFY(TempPage().rfind("<html>", 0) == 0);
        QCOMPARE(ToGbk(QGuiApplication::clipboard()->text()), TempPage());
    }

    void interruptingANetworkUpdate() {
        DemoServiceProcess service({"--latency-ms", "30"});
        ws_->WriteConfig("[config]\r\ndetail=3\r\n[users]\r\nuser0=demo\r\n");
        Open(service.baseUrl(), service.baseUrl());
        ModalAnswerer answerer;
        answerer.AnswerMessageBoxes();
        // 中断 once the album list is in and the photo stage runs; Esc and Enter do nothing meanwhile.
        answerer.OnceOn("CProgressDlg", [&](QWidget* dialog) {
            auto* progress = static_cast<CProgressDlg*>(dialog);
            QTest::keyClick(progress, Qt::Key_Escape);
            QTest::keyClick(progress, Qt::Key_Return);
            QVERIFY(progress->isVisible());
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(ws_->file("demo/rest/list.xml")), 30000);
            dialog->findChild<QPushButton*>("interruptButton")->click();
            dialog->findChild<QPushButton*>("interruptButton")->click();
            QVERIFY(progress->interruptRequested);
        });
        SelectUser("demo");
        Button("updateButton")->click();
        QCOMPARE(answerer.seen.size(), size_t(2));
        QCOMPARE(answerer.seen[1].title, QStringLiteral("提示"));
        QVERIFY2(answerer.seen[1].text.startsWith(QStringLiteral("已中断：共")),
                 qPrintable(answerer.seen[1].text));
        QVERIFY(!window_->progressDlg().interruptRequested);
        // Fewer photo details than a full run reads: the job stopped early.
        const int details = QDir(ws_->file("demo/rest/photos")).entryList(QDir::Files).size();
        int photos = 0;
        for (int a = 0; a < catalogue_->albumCount; ++a) photos += catalogue_->albums[a].photoCount;
        QVERIFY2(details < photos, qPrintable(QStringLiteral("%1 of %2").arg(details).arg(photos)));
    }
};

GUI_TEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
