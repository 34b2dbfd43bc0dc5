// The settings dialog's exchange with config.ini, its number checks and its cancel, the add-user dialog,
// the progress window's reports, frame and close box, where dialogs open, message boxes and Qt's texts in
// Chinese, and the hyperlink label with its opener.
#include <QAbstractButton>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QThread>
#include <QUrl>
#include <memory>

#include "gui_test_support.h"
#include "ui/about_dlg.h"
#include "ui/add_user_dlg.h"
#include "ui/clip_text_dlg.h"
#include "ui/link_label.h"
#include "ui/message_box.h"
#include "ui/progress_dlg.h"
#include "ui/settings_dlg.h"
#include "ui/skin.h"

namespace {

// The choosers answer with fixed choices.
class ChoosingSettingsDlg : public CSettingsDlg {
  public:
    using CSettingsDlg::CSettingsDlg;
    QString folder;
    QString skin;

  protected:
    QString ChooseFolder(const QString&) override { return folder; }
    QString ChooseSkinFile(const QString&) override { return skin; }
};

QLineEdit* Edit(QWidget* dialog, const char* name) {
    return dialog->findChild<QLineEdit*>(name);
}
QAbstractButton* ButtonOf(QWidget* dialog, const char* name) {
    return dialog->findChild<QAbstractButton*>(name);
}

void WriteFile(const QString& path, const QByteArray& bytes, QFile::Permissions permissions) {
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes);
    file.close();
    file.setPermissions(permissions);
}

// Every field of the record, to tell whether it changed.
QStringList Fields(const AppSettings& s) {
    QStringList fields = {QString::fromStdString(s.proxyServer),
                          QString::number(s.proxyPort),
                          QString::fromStdString(s.proxyUser),
                          QString::fromStdString(s.proxyPassword),
                          QString::fromStdString(s.outputPath),
                          QString::fromStdString(s.skinFile),
                          QString::number(s.detailMode),
                          QString::fromStdString(s.customFormat),
                          QString::number(s.pictureSizes),
                          QString::number(s.connections),
                          QString::number(s.retries),
                          QString::number(s.rate),
                          QString::number(s.userCount)};
    for (int n = 0; n < s.userCount; ++n) fields.append(QString::fromStdString(s.userNames[n]));
    return fields;
}

// An xdg-open of the test's own, first on PATH, that writes its arguments beside itself and exits with
// the status given; or none at all, with PATH naming only its folder.
class FakeXdgOpen {
  public:
    FakeXdgOpen() : oldPath_(qgetenv("PATH")) {}
    ~FakeXdgOpen() { qputenv("PATH", oldPath_); }
    void ExitWith(int status) {
        WriteFile(Script(), "#!/bin/sh\necho \"$@\" > \"$0.args\"\nexit " + QByteArray::number(status) + "\n",
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::remove(Script() + ".args");
        qputenv("PATH", QByteArray(dir_.path().c_str()) + ":" + oldPath_);
    }
    void Missing() {
        QFile::remove(Script());
        qputenv("PATH", QByteArray(dir_.path().c_str()));
    }
    QByteArray Arguments() const {
        QFile file(Script() + ".args");
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    }

  private:
    QString Script() const { return QString::fromStdString(dir_ / "xdg-open"); }
    TempDir dir_{"fake-xdg-open"};
    QByteArray oldPath_;
};

// Runs the dialog modally twice; `check` looks at it while it is up. The progress window runs without
// a worker and closes itself once checked.
void OpenTwice(QDialog* dialog, const std::function<void(QDialog*)>& check) {
    for (int run = 0; run < 2; ++run) {
        if (auto* progress = qobject_cast<CProgressDlg*>(dialog)) {
            progress->DoModal([progress, check] {
                QTimer::singleShot(0, progress, [progress, check] {
                    check(progress);
                    progress->Close();
                });
                return true;
            });
            continue;
        }
        ModalAnswerer answerer;
        answerer.OnceOn("QDialog", [dialog, check](QWidget* d) {
            QCOMPARE(d, dialog);
            check(dialog);
            dialog->reject();
        });
        dialog->exec();
        QVERIFY(answerer.seen.size() == 1);
    }
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void settingsAreExchangedWithConfigIni() {
        Workspace ws;
        ws.WriteConfig(
            "[proxy]\r\nserver=proxy.example\r\nport=8080\r\nuser=me\r\n[config]\r\ndetail=1\r\nformat=F$"
            "url\r\n");
        CSettingsDlg dialog(ws.path());
        ModalAnswerer answerer;
        answerer.OnceOn("CSettingsDlg", [&](QWidget* d) {
            QCOMPARE(Edit(d, "proxyServerEdit")->text(), QStringLiteral("proxy.example"));
            QCOMPARE(Edit(d, "proxyPortEdit")->text(), QStringLiteral("8080"));
            QCOMPARE(Edit(d, "outputPathEdit")->text(), QString::fromStdString(ws.path()));
            QCOMPARE(Edit(d, "customFormatEdit")->text(), QStringLiteral("F$url"));
            QVERIFY(d->findChild<QRadioButton*>("detailRadio1")->isChecked());
            Edit(d, "proxyServerEdit")->setText(QStringLiteral("代理.example"));
            Edit(d, "proxyPortEdit")->setText(QStringLiteral("3128"));
            d->findChild<QRadioButton*>("detailRadio3")->click();
            ButtonOf(d, "saveButton")->click();
        });
        QCOMPARE(dialog.DoModal(), int(QDialog::Accepted));
        const std::string config = ws.ReadConfig();
        QVERIFY(config.find("server=" + Gbk("代理.example") + "\r\n") != std::string::npos);
        QVERIFY(config.find("port=3128\r\n") != std::string::npos);
        QVERIFY(config.find("detail=3\r\n") != std::string::npos);
        QCOMPARE(dialog.settings.proxyPort, 3128);
    }

    void aPortOutsideOneTo65535IsRefused() {
        Workspace ws;
        ws.WriteConfig("[proxy]\r\nport=8080\r\n");
        const std::string before = ws.ReadConfig();
        CSettingsDlg dialog(ws.path());
        ModalAnswerer answerer;
        QStringList messages;
        const std::vector<const char*> refused = {"0", "65536", "80808", "-1", "abc", "", "80 80"};
        answerer.OnceOn("CSettingsDlg", [&](QWidget* d) {
            QLineEdit* port = Edit(d, "proxyPortEdit");
            port->setText(QString());
            QTest::keyClicks(port, "1234567");
            QCOMPARE(port->text(), QStringLiteral("12345"));
            for (const char* typed : refused) {
                port->setText(QString::fromLatin1(typed));
                Edit(d, "proxyUserEdit")->setText(QStringLiteral("typed"));
                answerer.OnceOn("QMessageBox", [&](QWidget* box) {
                    messages.append(static_cast<QMessageBox*>(box)->text());
                    static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
                });
                ButtonOf(d, "saveButton")->click();
                QVERIFY(d->isVisible());
            }
            ButtonOf(d, "cancelButton")->click();
        });
        QCOMPARE(dialog.DoModal(), int(QDialog::Rejected));
        QCOMPARE(messages,
                 QStringList(qsizetype(refused.size()), QStringLiteral("端口必须是1到65535之间的整数。")));
        QCOMPARE(ws.ReadConfig(), before);
        QVERIFY(dialog.settings.proxyUser.empty());

        for (int accepted : {1, 8080, 65535}) {
            answerer.OnceOn("CSettingsDlg", [&](QWidget* d) {
                Edit(d, "proxyPortEdit")->setText(QString::number(accepted));
                ButtonOf(d, "saveButton")->click();
            });
            QCOMPARE(dialog.DoModal(), int(QDialog::Accepted));
            QCOMPARE(dialog.settings.proxyPort, accepted);
            AppSettings reread(ws.path());
            QVERIFY(reread.Load().empty());
            QCOMPARE(reread.proxyPort, accepted);
        }
        QCOMPARE(messages.size(), qsizetype(refused.size()));
    }

    void pictureBackupChoicesRoundTripThroughConfigIni() {
        Workspace ws;
        ws.WriteConfig("[config]\r\npictures=1,3\r\nconnections=9\r\n");
        CSettingsDlg dialog(ws.path());
        ModalAnswerer answerer;
        QStringList messages;
        answerer.OnceOn("CSettingsDlg", [&](QWidget* d) {
            auto check = [d](int i) {
                return d->findChild<QCheckBox*>(QString("pictureSizeCheck%1").arg(i));
            };
            QVERIFY(!check(0)->isChecked() && check(1)->isChecked());
            QVERIFY(!check(2)->isChecked() && check(3)->isChecked());
            QCOMPARE(Edit(d, "connectionsEdit")->text(), QStringLiteral("9"));
            check(0)->click();
            check(1)->click();
            for (const char* typed : {"17", "0"}) {
                Edit(d, "connectionsEdit")->setText(QString::fromLatin1(typed));
                answerer.OnceOn("QMessageBox", [&](QWidget* box) {
                    messages.append(static_cast<QMessageBox*>(box)->text());
                    static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
                });
                ButtonOf(d, "saveButton")->click();
                QVERIFY(d->isVisible());
            }
            Edit(d, "connectionsEdit")->setText(QStringLiteral("16"));
            ButtonOf(d, "saveButton")->click();
        });
        QCOMPARE(dialog.DoModal(), int(QDialog::Accepted));
        QCOMPARE(messages, QStringList(2, QStringLiteral("同时连接数必须是1到16之间的整数。")));
        AppSettings reread(ws.path());
        QVERIFY(reread.Load().empty());
        QCOMPARE(reread.pictureSizes, 0b1001u);
        QCOMPARE(reread.connections, 16);
    }

    void choosingAFolderRefillsEveryBoxFromTheRecord() {
        Workspace ws;
        ws.WriteConfig("[proxy]\r\nserver=stored.example\r\n[config]\r\npath=" + ws.path() +
                       "\r\ndetail=7\r\n");
        ChoosingSettingsDlg dialog(ws.path());
        QVERIFY(dialog.settings.Load().empty());  // as at start-up
        dialog.folder = ws.file("out");
        ModalAnswerer answerer;
        answerer.OnceOn("CSettingsDlg", [&](QWidget* d) {
            for (const char* name : {"detailRadio0", "detailRadio1", "detailRadio2", "detailRadio3"}) {
                QVERIFY(!d->findChild<QRadioButton*>(name)->isChecked());
            }
            Edit(d, "proxyServerEdit")->setText(QStringLiteral("typed.example"));
            ButtonOf(d, "folderChooseButton")->click();
            QCOMPARE(Edit(d, "proxyServerEdit")->text(), QStringLiteral("stored.example"));
            QCOMPARE(Edit(d, "outputPathEdit")->text(), ws.file("out"));
            ButtonOf(d, "cancelButton")->click();
        });
        dialog.DoModal();
        // Nothing was saved: the chosen folder is gone with the dialog.
        QCOMPARE(dialog.settings.outputPath, ws.path());
        QVERIFY(ws.ReadConfig().find("out") == std::string::npos);

        answerer.OnceOn("CSettingsDlg", [&](QWidget* d) {
            QCOMPARE(Edit(d, "outputPathEdit")->text(), QString::fromStdString(ws.path()));
            ButtonOf(d, "saveButton")->click();
        });
        dialog.DoModal();
        QVERIFY(ws.ReadConfig().find("detail=-1\r\n") != std::string::npos);
    }

    void switchingTheSkinUsesTheRecordNotTheBox() {
        Workspace ws;
        const QString skin = ws.file("green.u3");
        WriteFile(skin, "QDialog { background: green; }", QFile::ReadOwner | QFile::WriteOwner);
        ws.WriteConfig("[config]\r\nskin=" + skin.toStdString() + "\r\n");
        CSettingsDlg dialog(ws.path());
        ModalAnswerer answerer;
        answerer.OnceOn("CSettingsDlg", [&](QWidget* d) {
            Edit(d, "skinEdit")->setText(QStringLiteral(":/albumbrowser/default.u3"));
            ButtonOf(d, "skinSwitchButton")->click();
            QCOMPARE(qApp->styleSheet(), QStringLiteral("QDialog { background: green; }"));
            ButtonOf(d, "saveButton")->click();
        });
        dialog.DoModal();
        // Saving applies the typed skin: the one shipped inside the program.
        QVERIFY(qApp->styleSheet().contains("QProgressBar"));
        SkinSwitch(ws.file("missing.u3").toStdString());
        QVERIFY(qApp->styleSheet().isEmpty());
    }

    void cancelEscAndTheFrameLeaveTheRecordAndConfigIni() {
        const std::vector<std::pair<const char*, std::function<void(QWidget*)>>> ways = {
            {"cancel", [](QWidget* d) { ButtonOf(d, "cancelButton")->click(); }},
            {"Esc", [](QWidget* d) { QTest::keyClick(d, Qt::Key_Escape); }},
            {"frame", [](QWidget* d) { d->close(); }},
        };
        for (const auto& [way, close] : ways) {
            Workspace ws;
            const QString skin = ws.file("red.u3");
            WriteFile(skin, "QDialog { background: red; }", QFile::ReadOwner | QFile::WriteOwner);
            ws.WriteConfig("[proxy]\r\nserver=stored.example\r\nport=8080\r\n[config]\r\npath=" + ws.path() +
                           "\r\nformat=F$url\r\n[users]\r\nuser0=alice\r\n");
            const std::string before = ws.ReadConfig();
            ChoosingSettingsDlg dialog(ws.path());
            QVERIFY(dialog.settings.Load().empty());
            // A value this run holds beside config.ini, as after a save that could not be written.
            dialog.settings.proxyUser = "memory";
            const QStringList record = Fields(dialog.settings);
            const QString sheet = qApp->styleSheet();
            dialog.folder = ws.file("chosen");
            dialog.skin = skin;
            ModalAnswerer answerer;
            answerer.OnceOn("CSettingsDlg", [&, close = close](QWidget* d) {
                ButtonOf(d, "folderChooseButton")->click();
                ButtonOf(d, "skinChooseButton")->click();
                ButtonOf(d, "skinSwitchButton")->click();
                QCOMPARE(qApp->styleSheet(), QStringLiteral("QDialog { background: red; }"));
                Edit(d, "proxyServerEdit")->setText(QStringLiteral("typed.example"));
                Edit(d, "proxyPortEdit")->setText(QStringLiteral("3128"));
                d->findChild<QCheckBox*>("pictureSizeCheck2")->click();
                close(d);
            });
            QCOMPARE(dialog.DoModal(), int(QDialog::Rejected));
            QVERIFY2(answerer.seen.size() == 1, way);
            QVERIFY2(Fields(dialog.settings) == record, way);
            QVERIFY2(ws.ReadConfig() == before, way);
            QVERIFY2(qApp->styleSheet() == sheet, way);
            // The next save, of the user list, writes nothing the dialog was given.
            QVERIFY(dialog.settings.AddUser("bob").empty());
            AppSettings reread(ws.path());
            QVERIFY(reread.Load().empty());
            QVERIFY2(reread.outputPath == ws.path() && reread.skinFile.empty(), way);
            QVERIFY2(reread.proxyServer == "stored.example" && reread.proxyPort == 8080, way);
        }
    }

    void folderChooserStartsInTheFolderOfTheBox() {
        Workspace ws;
        QDir().mkpath(ws.file("albums"));
        ws.WriteConfig("[config]\r\npath=" + ws.path() + "\r\n");
        const QString startup = QString::fromStdString(ws.path());
        const std::vector<std::pair<QString, QString>> cases = {
            {ws.file("albums"), ws.file("albums")},
            {QStringLiteral("albums"), ws.file("albums")},  // relative to the start-up folder
            {QString(), startup},
            {ws.file("missing"), startup},
            {ws.file("config.ini"), startup},
        };
        CSettingsDlg dialog(ws.path());
        ModalAnswerer answerer;
        QStringList started, texts;
        answerer.OnceOn("CSettingsDlg", [&](QWidget* d) {
            for (const auto& [typed, expected] : cases) {
                Edit(d, "outputPathEdit")->setText(typed);
                answerer.OnceOn("QFileDialog", [&](QWidget* w) {
                    auto* chooser = static_cast<QFileDialog*>(w);
                    started.append(chooser->directory().absolutePath());
                    texts = QStringList{
                        chooser->findChild<QLabel*>("lookInLabel")->text(),
                        chooser->findChild<QLabel*>("fileNameLabel")->text(),
                        chooser->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->text()};
                    chooser->reject();
                });
                ButtonOf(d, "folderChooseButton")->click();
            }
            ButtonOf(d, "cancelButton")->click();
        });
        dialog.DoModal();
        QStringList expected;
        for (const auto& c : cases) expected.append(c.second);
        QCOMPARE(started, expected);
        QCOMPARE(texts, QStringList({QStringLiteral("查找范围："), QStringLiteral("目录："),
                                     QStringLiteral("选择(&C)")}));
    }

    void progressWindowHasNoMinMaxAndItsCloseBoxInterrupts() {
        CProgressDlg progress;
        const Qt::WindowFlags flags = progress.windowFlags();
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QCOMPARE(progress.minimumSize(), progress.maximumSize());
        bool escInterrupted = true, closeInterrupted = false, stayedUp = false;
        QVERIFY(progress.DoModal([&] {
            QTimer::singleShot(0, &progress, [&] {
                QTest::keyClick(&progress, Qt::Key_Escape);
                escInterrupted = progress.interruptRequested;
                progress.close();
                closeInterrupted = progress.interruptRequested;
                stayedUp = progress.isVisible();
                progress.Close();  // the job, having stopped
            });
            return true;
        }));
        QVERIFY(!escInterrupted);
        QVERIFY(closeInterrupted);
        QVERIFY(stayedUp);
        QVERIFY(!progress.isVisible());
    }

    void dialogsOpenCentredOnTheirParentEveryTime() {
        Workspace ws;
        QWidget owner;
        owner.setGeometry(50, 40, 700, 560);  // on the 800 by 600 screen of the offscreen platform
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        std::vector<std::unique_ptr<QDialog>> dialogs;
        dialogs.emplace_back(new CSettingsDlg(ws.path(), &owner));
        dialogs.emplace_back(new CAboutDlg(&owner));
        dialogs.emplace_back(new CAddUserDlg(&owner));
        dialogs.emplace_back(new CClipTextDlg(&owner));
        dialogs.emplace_back(new CProgressDlg(&owner));
        for (const auto& dialog : dialogs) {
            const char* name = dialog->metaObject()->className();
            const QSize size = dialog->size();
            std::vector<QRect> shown;
            OpenTwice(dialog.get(), [&](QDialog* d) {
                shown.push_back(d->geometry());
                QVERIFY2(d->minimumSize() == size && d->maximumSize() == size, name);
            });
            QVERIFY2(shown.size() == 2, name);
            for (const QRect& r : shown) {
                QVERIFY2(r.size() == size, name);
                QVERIFY2((r.center() - owner.geometry().center()).manhattanLength() <= 1, name);
            }
        }
        // Message boxes too, whatever size their text gives them.
        std::vector<QPoint> centres;
        ModalAnswerer answerer;
        for (int run = 0; run < 2; ++run) {
            answerer.OnceOn("QMessageBox", [&](QWidget* box) {
                centres.push_back(box->geometry().center());
                static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
            });
            ShowMessage(&owner, QStringLiteral("请从列表选择一个用户！"));
        }
        QCOMPARE(centres.size(), size_t(2));
        for (const QPoint& c : centres) QVERIFY((c - owner.geometry().center()).manhattanLength() <= 1);
    }

    void everyControlSitsInsideItsFrameClearOfItsTitle() {
        Workspace ws;
        std::vector<std::unique_ptr<QDialog>> dialogs;
        dialogs.emplace_back(new CSettingsDlg(ws.path()));
        dialogs.emplace_back(new CAboutDlg());
        dialogs.emplace_back(new CAddUserDlg());
        dialogs.emplace_back(new CClipTextDlg());
        dialogs.emplace_back(new CProgressDlg());
        for (const auto& dialog : dialogs) {
            dialog->ensurePolished();
            const QList<QWidget*> children = dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
            for (QWidget* control : children) {
                const QByteArray name =
                    dialog->metaObject()->className() + QByteArray(" ") + control->objectName().toLatin1();
                QVERIFY2(dialog->rect().contains(control->geometry()), name);
                for (QWidget* other : children) {
                    auto* frame = qobject_cast<QGroupBox*>(other);
                    if (!frame || other == control || !frame->geometry().intersects(control->geometry()))
                        continue;
                    const QRect inside = frame->contentsRect().translated(frame->pos());
                    QVERIFY2(inside.contains(control->geometry()),
                             name + " in " + frame->objectName().toLatin1());
                }
            }
        }
    }

    void messageBoxesCarryTheProgramsNameAndChineseButtons() {
        struct Case {
            QString title;
            QMessageBox::StandardButtons buttons;
            QString shownTitle;
            QStringList texts;
        };
        const std::vector<Case> cases = {
            {QString(),
             QMessageBox::Yes | QMessageBox::No,
             QStringLiteral("Zorbi浏览器"),
             {QStringLiteral("是(&Y)"), QStringLiteral("否(&N)")}},
            {QString(), QMessageBox::Ok, QStringLiteral("Zorbi浏览器"), {QStringLiteral("确定")}},
            {QStringLiteral("删除用户"),
             QMessageBox::Ok | QMessageBox::Cancel,
             QStringLiteral("删除用户"),
             {QStringLiteral("确定"), QStringLiteral("取消")}},
        };
        for (const Case& c : cases) {
            ModalAnswerer answerer;
            QString title;
            QStringList texts;
            answerer.OnceOn("QMessageBox", [&](QWidget* w) {
                auto* box = static_cast<QMessageBox*>(w);
                title = box->windowTitle();
                for (QMessageBox::StandardButton b :
                     {QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok, QMessageBox::Cancel}) {
                    if (box->button(b)) texts.append(box->button(b)->text());
                }
                box->buttons().first()->click();
            });
            ShowMessage(nullptr, QStringLiteral("确定要删除吗？"), c.title, QMessageBox::Question, c.buttons);
            QCOMPARE(title, c.shownTitle);
            QCOMPARE(texts, c.texts);
        }
    }

    void addUserDialogTakesTheNameOnlyWithOk() {
        ModalAnswerer answerer;
        {
            CAddUserDlg dialog;
            answerer.OnceOn("CAddUserDlg", [](QWidget* d) {
                QLineEdit* edit = Edit(d, "nameEdit");
                QVERIFY(edit->text().isEmpty());
                QTest::keyClicks(edit, "carol");
                QTest::keyClick(edit, Qt::Key_Return);
            });
            QCOMPARE(dialog.DoModal(), int(QDialog::Accepted));
            QCOMPARE(dialog.name, QStringLiteral("carol"));
        }
        {
            CAddUserDlg dialog;
            answerer.OnceOn("CAddUserDlg", [](QWidget* d) {
                QTest::keyClicks(Edit(d, "nameEdit"), "dave");
                QTest::keyClick(d, Qt::Key_Escape);
            });
            QCOMPARE(dialog.DoModal(), int(QDialog::Rejected));
            QVERIFY(dialog.name.isEmpty());
        }
    }

    void progressReportsReachTheWindowOnlyWhileItIsUp() {
        CProgressDlg progress;
        progress.SetText("before");
        QCOMPARE(progress.resultText, std::string("before"));
        QCOMPARE(progress.StatusText(), QStringLiteral("运行"));
        progress.Close();  // no window: nothing happens

        QThread* worker = nullptr;
        int seenMax = 0, seenPos = 0;
        QString seenText, seenTitle;
        bool stayedOpen = false;
        const bool started = progress.DoModal([&] {
            worker = QThread::create([&] {
                progress.SetCaption("caption");
                progress.SetRange(0, 100000);  // the full range, not cut to 16 bits
                progress.SetPos(70000);
                progress.SetText("working");
                QMetaObject::invokeMethod(
                    &progress,
                    [&] {
                        seenMax = progress.Maximum();
                        seenPos = progress.Position();
                        seenText = progress.StatusText();
                        seenTitle = progress.windowTitle();
                        QTest::keyClick(&progress, Qt::Key_Escape);
                        progress.close();
                        stayedOpen = progress.isVisible();
                        progress.findChild<QPushButton*>("interruptButton")->click();
                        progress.findChild<QPushButton*>("interruptButton")->click();
                    },
                    Qt::BlockingQueuedConnection);
                progress.SetRange(0, 0);
                progress.SetPos(0);
                progress.SetText("done");
                progress.Close();
                progress.SetText("after");
            });
            worker->start();
            return true;
        });
        worker->wait();
        delete worker;
        QVERIFY(started);
        QCOMPARE(seenMax, 100000);
        QCOMPARE(seenPos, 70000);
        QCOMPARE(seenText, QStringLiteral("working"));
        QCOMPARE(seenTitle, QStringLiteral("caption"));
        QVERIFY(stayedOpen);
        QVERIFY(progress.interruptRequested);
        QCOMPARE(progress.resultText, std::string("after"));
        QCOMPARE(progress.StatusText(), QStringLiteral("done"));
        QVERIFY(!progress.isVisible());
    }

    void aWorkerEndingWithoutCloseEndsTheWindow() {
        CProgressDlg progress;
        QThread* worker = QThread::create([] {});
        QObject::connect(worker, &QThread::finished, &progress, &CProgressDlg::JobEnded);
        QVERIFY(progress.DoModal([&] {
            worker->start();
            return true;
        }));
        worker->wait();
        delete worker;
        QVERIFY(!progress.isVisible());
    }

    void linkLabelOpensANewMail() {
        FakeXdgOpen xdgOpen;
        xdgOpen.ExitWith(0);
        CAboutDlg about;
        ModalAnswerer answerer;
        bool visited = false;
        QString tip;
        answerer.OnceOn("CAboutDlg", [&](QWidget* d) {
            CLinkLabel* link = static_cast<CAboutDlg*>(d)->mailLink();
            tip = link->toolTip();
            QVERIFY(link->font().underline());
            QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
            QCOMPARE(link->palette().color(QPalette::WindowText), link->linkColour);
            QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
            QTRY_VERIFY_WITH_TIMEOUT(link->visited, 30000);
            visited = link->palette().color(QPalette::WindowText) == link->visitedColour;
            ButtonOf(d, "okButton")->click();
        });
        about.DoModal();
        QCOMPARE(xdgOpen.Arguments(), QByteArray("mailto:author@abr.example"));
        QCOMPARE(tip, QStringLiteral("author@abr.example"));
        QVERIFY(visited);
    }

    void aFailedOpenerIsReportedAndASuccessIsNot() {
        // The test's XDG folders name no handler of text/html, so the fall-back finds none either.
        QVERIFY(!qEnvironmentVariable("XDG_CONFIG_HOME").isEmpty());
        QFile::remove(qEnvironmentVariable("XDG_CONFIG_HOME") + "/mimeapps.list");
        struct Case {
            const char* name;
            int status;  // of xdg-open; -1 for none on PATH
            bool reported;
        };
        for (const Case& c : {Case{"opened", 0, false}, Case{"no handler", 3, true},
                              Case{"action failed", 4, true}, Case{"missing", -1, true}}) {
            FakeXdgOpen xdgOpen;
            if (c.status < 0) {
                xdgOpen.Missing();
            } else {
                xdgOpen.ExitWith(c.status);
            }
            CLinkLabel link;
            link.url = QStringLiteral("x@y.example");
            link.PreSubclassWindow();
            QSignalSpy failures(&link, &CLinkLabel::openFailed);
            ModalAnswerer answerer;
            answerer.AnswerMessageBoxes();
            QTest::mouseClick(&link, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
            QTRY_VERIFY_WITH_TIMEOUT(link.visited || !answerer.seen.empty(), 30000);
            QCOMPARE(link.visited, !c.reported);
            if (c.reported) {
                QCOMPARE(failures.size(), 1);
                QCOMPARE(failures.first().value(0).toInt(), 31);
                QCOMPARE(answerer.seen.size(), size_t(1));
                QCOMPARE(answerer.seen[0].title, QStringLiteral("Zorbi浏览器"));
                QCOMPARE(answerer.seen[0].text, CLinkLabel::OpenErrorText(31));
            } else {
                QCOMPARE(failures.size(), 0);
                QVERIFY(answerer.seen.empty());
            }
            if (c.status >= 0) QCOMPARE(xdgOpen.Arguments(), QByteArray("mailto:x@y.example"));
        }
    }

    void linkFallbackRunsTheHtmlHandlerOrNamesTheFailure() {
        // The test's XDG folders are its own: no handler of text/html to begin with.
        const QString data = qEnvironmentVariable("XDG_DATA_HOME");
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        QVERIFY(!data.isEmpty() && !config.isEmpty());
        QDir().mkpath(data + "/applications");
        QFile::remove(config + "/mimeapps.list");
        QCOMPARE(CLinkLabel::OpenWithHtmlHandler("x@y.example"), 31);

        WriteFile(config + "/mimeapps.list", "[Default Applications]\ntext/html=fakebrowser.desktop\n",
                  QFile::ReadOwner | QFile::WriteOwner);
        const QString entry = data + "/applications/fakebrowser.desktop";
        auto writeEntry = [&](const QString& exec) {
            WriteFile(entry, "[Desktop Entry]\nType=Application\nName=Fake\nExec=" + exec.toUtf8() + "\n",
                      QFile::ReadOwner | QFile::WriteOwner);
        };
        writeEntry(data + "/missing-browser %u");
        QCOMPARE(CLinkLabel::OpenWithHtmlHandler("x@y.example"), 2);

        const QString script = data + "/browser.sh";
        WriteFile(script, "#!/bin/sh\necho \"$@\" > \"$0.out\"\n", QFile::ReadOwner | QFile::WriteOwner);
        writeEntry(script + " \"%u\"");
        QCOMPARE(CLinkLabel::OpenWithHtmlHandler("x@y.example"), 5);

        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::remove(script + ".out");  // an earlier run's output would be read while the new one is written
        QVERIFY(CLinkLabel::OpenWithHtmlHandler("x@y.example") > 32);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(script + ".out").size() > 0, 30000);
        QFile out(script + ".out");
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll().trimmed(), QByteArray("x@y.example"));
    }
};

GUI_TEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
