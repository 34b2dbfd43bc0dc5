// The settings dialog's exchange with config.ini, its checks, cancel, place and frames, the add-user dialog,
// the progress window's reports and close box, message boxes in Chinese, and the hyperlink label.
#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <algorithm>
#include <memory>

#include "gui_test_support.h"
#include "test_files.h"
#include "ui/about_dlg.h"
#include "ui/add_user_dlg.h"
#include "ui/link_label.h"
#include "ui/message_box.h"
#include "ui/progress_dlg.h"
#include "ui/settings_dlg.h"
#include "ui/skin.h"

namespace {

// The choosers answer with fixed choices; the folder chooser notes where it was to start.
class ChoosingSettingsDlg : public CSettingsDlg {
  public:
    using CSettingsDlg::CSettingsDlg;
    QString folder, skin, startedIn;

  protected:
    QString ChooseFolder(const QString& initialFolder) override {
        startedIn = initialFolder;
        return folder;
    }
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
        answerer.OnceOn("CSettingsDlg", [&](QWidget* d) {
            QLineEdit* port = Edit(d, "proxyPortEdit");
            port->setText(QString());
            QTest::keyClicks(port, "1234567");
            QCOMPARE(port->text(), QStringLiteral("12345"));
            for (const char* typed : {"0", "65536", "80808", "abc", ""}) {
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
        QCOMPARE(messages, QStringList(5, QStringLiteral("端口必须是1到65535之间的整数。")));
        QCOMPARE(ws.ReadConfig(), before);
        QVERIFY(dialog.settings.proxyUser.empty());
        for (int port : {1, 8080, 65535}) {
            answerer.OnceOn("CSettingsDlg", [&](QWidget* d) {
                Edit(d, "proxyPortEdit")->setText(QString::number(port));
                ButtonOf(d, "saveButton")->click();
            });
            QCOMPARE(dialog.DoModal(), int(QDialog::Accepted));
            QVERIFY(ws.ReadConfig().find("port=" + std::to_string(port) + "\r\n") != std::string::npos);
        }
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

    // A folder GBK cannot name, typed or chosen, is refused: the dialog stays and nothing is taken.
    void anOutputPathThatGbkCannotHoldIsRefused() {
        Workspace ws;
        ws.WriteConfig("[config]\r\npath=/data\r\n");
        const std::string before = ws.ReadConfig();
        ChoosingSettingsDlg dialog(ws.path());
        QVERIFY(dialog.settings.Load().empty());  // as at start-up
        dialog.folder = QStringLiteral("/chosen/ø");
        ModalAnswerer answerer;
        QStringList messages;
        answerer.OnceOn("CSettingsDlg", [&](QWidget* d) {
            const auto answerNextBox = [&] {
                answerer.OnceOn("QMessageBox", [&](QWidget* box) {
                    messages.append(static_cast<QMessageBox*>(box)->text());
                    static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
                });
            };
            answerNextBox();
            ButtonOf(d, "folderChooseButton")->click();
            QCOMPARE(Edit(d, "outputPathEdit")->text(), QStringLiteral("/data"));
            Edit(d, "outputPathEdit")->setText(QStringLiteral("/photos/😀"));
            answerNextBox();
            ButtonOf(d, "saveButton")->click();
            QVERIFY(d->isVisible());
            ButtonOf(d, "cancelButton")->click();
        });
        QCOMPARE(dialog.DoModal(), int(QDialog::Rejected));
        QCOMPARE(messages, (QStringList{QStringLiteral("路径中有无法保存的字符：/chosen/ø"),
                                        QStringLiteral("路径中有无法保存的字符：/photos/😀")}));
        QCOMPARE(ws.ReadConfig(), before);
        QCOMPARE(dialog.settings.outputPath, std::string("/data"));
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
        // Nothing was saved: the chosen folder went with the dialog.
        QCOMPARE(dialog.settings.outputPath, ws.path());
        QVERIFY(ws.ReadConfig().find("out") == std::string::npos);

        answerer.OnceOn("CSettingsDlg", [&](QWidget* d) {
            QCOMPARE(Edit(d, "outputPathEdit")->text(), QString::fromStdString(ws.path()));
            ButtonOf(d, "saveButton")->click();
        });
        dialog.DoModal();
        QVERIFY(ws.ReadConfig().find("detail=-1\r\n") != std::string::npos);
    }

    void cancelEscAndTheFrameChangeNothing() {
        for (int way = 0; way < 3; ++way) {
            Workspace ws;
            QDir().mkpath(ws.file("albums"));
            WriteFile(ws.file("red.u3"), "QDialog { background: red; }",
                      QFile::ReadOwner | QFile::WriteOwner);
            ws.WriteConfig("[proxy]\r\nserver=stored.example\r\nport=8080\r\n[config]\r\npath=" + ws.path() +
                           "\r\n[users]\r\nuser0=alice\r\n");
            const std::string before = ws.ReadConfig();
            const QString sheet = qApp->styleSheet();
            ChoosingSettingsDlg dialog(ws.path());
            QVERIFY(dialog.settings.Load().empty());
            dialog.folder = ws.file("chosen");
            dialog.skin = ws.file("red.u3");
            // The folder chooser starts in the folder the box names, else in the start-up folder.
            const QString typed[] = {ws.file("albums"), QString(), ws.file("missing")};
            ModalAnswerer answerer;
            answerer.OnceOn("CSettingsDlg", [&](QWidget* d) {
                Edit(d, "outputPathEdit")->setText(typed[way]);
                for (const char* name : {"folderChooseButton", "skinChooseButton", "skinSwitchButton"})
                    ButtonOf(d, name)->click();
                Edit(d, "proxyPortEdit")->setText(QStringLiteral("3128"));
                if (way == 0) ButtonOf(d, "cancelButton")->click();
                if (way == 1) QTest::keyClick(d, Qt::Key_Escape);
                if (way == 2) d->close();
            });
            QCOMPARE(dialog.DoModal(), int(QDialog::Rejected));
            QCOMPARE(dialog.startedIn, way == 0 ? ws.file("albums") : QString::fromStdString(ws.path()));
            QCOMPARE(ws.ReadConfig(), before);
            QCOMPARE(qApp->styleSheet(), sheet);
            // Saved now, the record writes back what config.ini holds: nothing of the dialog stayed.
            QVERIFY(dialog.settings.Save().empty());
            QCOMPARE(ws.ReadConfig(), before);
        }
    }

    void theSettingsDialogOpensCentredOnItsParentEveryTimeWithItsControlsInsideTheirFrames() {
        Workspace ws;
        QWidget owner;
        owner.setGeometry(50, 40, 700, 560);  // on the offscreen platform's 800 by 600 screen
        owner.show();
        CSettingsDlg dialog(ws.path(), &owner);
        ModalAnswerer answerer;
        std::vector<QPoint> centres;
        for (int run = 0; run < 2; ++run) {
            answerer.OnceOn("CSettingsDlg", [&](QWidget* d) {
                centres.push_back(d->geometry().center());
                QCOMPARE(d->minimumSize(), d->maximumSize());
                ButtonOf(d, "cancelButton")->click();
            });
            dialog.DoModal();
        }
        QCOMPARE(centres, std::vector<QPoint>(2, owner.geometry().center()));
        for (QGroupBox* frame : dialog.findChildren<QGroupBox*>()) {
            const QRect inside = frame->contentsRect().translated(frame->pos());
            for (QWidget* control : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (control != frame && frame->geometry().intersects(control->geometry()))
                    QVERIFY2(inside.contains(control->geometry()), qPrintable(control->objectName()));
            }
        }
    }

    // Tab reaches every control of the settings, row by row from the top, left to right in a row.
    void tabWalksTheSettingsInReadingOrder() {
        Workspace ws;
        CSettingsDlg dialog(ws.path());
        QList<QWidget*> chain;
        for (QWidget* w = dialog.nextInFocusChain(); w != &dialog; w = w->nextInFocusChain()) {
            if (w->focusPolicy() & Qt::TabFocus) chain << w;
        }
        QList<QWidget*> reading;
        for (QWidget* w : dialog.findChildren<QWidget*>())
            if (w->focusPolicy() & Qt::TabFocus) reading << w;
        auto row = [](QWidget* w) { return (w->y() + w->height() / 2) / 12; };
        std::sort(reading.begin(), reading.end(), [&](QWidget* a, QWidget* b) {
            return row(a) != row(b) ? row(a) < row(b) : a->x() < b->x();
        });
        QStringList want, got;
        for (QWidget* w : reading) want << w->objectName();
        for (QWidget* w : chain) got << w->objectName();
        QCOMPARE(got.join(' '), want.join(' '));
    }

    void aYesNoBoxIsTitledAndAnsweredInChinese() {
        ModalAnswerer answerer;
        QStringList seen;
        answerer.OnceOn("QMessageBox", [&](QWidget* w) {
            auto* box = static_cast<QMessageBox*>(w);
            seen = {box->windowTitle(), box->button(QMessageBox::Yes)->text(),
                    box->button(QMessageBox::No)->text()};
            box->reject();
        });
        ShowMessage(nullptr, QString(), QString(), QMessageBox::Question, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(seen, QStringList({QStringLiteral("Zorbi浏览器"), QStringLiteral("是(&Y)"),
                                    QStringLiteral("否(&N)")}));
    }

    // 每天自动备份 shows the timer's state when the dialog opens, 保存 switches the timer only when the box
    // was changed, a refusal is shown, and without the user's systemd the box is greyed with the reason.
    void theDailyBackupBoxSwitchesTheTimerOnSave() {
        Workspace ws;
        const TempDir bin("stand-in-systemctl");
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QByteArray::fromStdString(bin.path() + ":") + path);
        WriteStandIn(bin.path(), "systemctl", kSystemctlStandIn);
        CSettingsDlg dialog(ws.path());
        ModalAnswerer answerer;
        answerer.AnswerMessageBoxes();
        const auto save = [&](const std::function<void(QCheckBox*)>& act) {
            answerer.OnceOn("CSettingsDlg", [&](QWidget* d) {
                act(d->findChild<QCheckBox*>("scheduleCheck"));
                ButtonOf(d, "saveButton")->click();
            });
            dialog.DoModal();
        };
        save([](QCheckBox* box) { QVERIFY(box->isEnabled() && !box->isChecked()); });
        save([](QCheckBox* box) { box->setChecked(true); });
        save([](QCheckBox* box) { QVERIFY(box->isChecked()); });
        const std::string show =
            "[--user][show][albumbrowser-backup.timer][--property=LoadState,UnitFileState,"
            "NextElapseUSecRealtime]";
        QCOMPARE(StandInRuns(bin.path(), "systemctl"),
                 std::vector<std::string>({show, show, show, "[--user][daemon-reload]",
                                           "[--user][enable][--now][albumbrowser-backup.timer]", show}));

        WriteStandIn(bin.path(), "systemctl",
                     std::string("case \"$*\" in *disable*) echo 'Access denied' >&2; exit 1 ;; esac\n") +
                         kSystemctlStandIn);
        save([](QCheckBox* box) { box->setChecked(false); });
        QCOMPARE(answerer.seen.back().className, QStringLiteral("QMessageBox"));
        QCOMPARE(answerer.seen.back().text, QStringLiteral("systemctl --user disable失败：Access denied"));

        WriteStandIn(bin.path(), "systemctl", "echo 'Failed to connect to bus: No medium found' >&2; exit 1");
        save([](QCheckBox* box) {
            QVERIFY(!box->isEnabled());
            QVERIFY(
                box->toolTip().startsWith(QStringLiteral("无法连接用户的systemd（Failed to connect to bus")));
        });
        qputenv("PATH", path);
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
        // No minimise or maximise; the close box stays and interrupts as 中断 does, Esc does nothing.
        QVERIFY(!(progress.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(progress.windowFlags() & Qt::WindowCloseButtonHint);
        progress.SetText("before");
        QCOMPARE(progress.resultText, std::string("before"));
        QCOMPARE(progress.StatusText(), QStringLiteral("运行"));
        progress.Close();  // no window: nothing happens

        QThread* worker = nullptr;
        int seenMax = 0, seenPos = 0;
        QString seenText, seenTitle;
        bool stayedOpen = false, escInterrupted = true, closeInterrupted = false;
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
                        escInterrupted = progress.interruptRequested;
                        progress.close();
                        closeInterrupted = progress.interruptRequested;
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
        QVERIFY(!escInterrupted && closeInterrupted);
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

    void linkLabelOpensANewMailOrReportsTheOpenerFailing() {
        QVERIFY(!qEnvironmentVariable("XDG_CONFIG_HOME").isEmpty());
        QFile::remove(qEnvironmentVariable("XDG_CONFIG_HOME") + "/mimeapps.list");  // no fall-back handler
        FakeXdgOpen opener;
        CAboutDlg about;
        ModalAnswerer answerer;
        answerer.AnswerMessageBoxes();
        bool visited = false;
        QString tip;
        QList<int> failures;
        answerer.OnceOn("CAboutDlg", [&](QWidget* d) {
            CLinkLabel* link = static_cast<CAboutDlg*>(d)->mailLink();
            tip = link->toolTip();
            QVERIFY(link->font().underline());
            QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
            QCOMPARE(link->palette().color(QPalette::WindowText), link->linkColour);
            connect(link, &CLinkLabel::openFailed, [&](int code) { failures.append(code); });
            // xdg-open tells a failure only by its exit status, after it has started.
            for (int status : {3, 0}) {
                opener.SetStatus(status);
                QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
                QTRY_VERIFY_WITH_TIMEOUT(status ? failures.size() == 1 : link->visited, 30000);
            }
            visited = link->visited && link->palette().color(QPalette::WindowText) == link->visitedColour;
            ButtonOf(d, "okButton")->click();
        });
        about.DoModal();
        QCOMPARE(failures, QList<int>({31}));
        QCOMPARE(answerer.seen.size(), size_t(2));  // the About box, then one message
        QCOMPARE(answerer.seen[1].title, QStringLiteral("Zorbi浏览器"));
        QCOMPARE(opener.Opened(), QStringList(2, QStringLiteral("mailto:author@abr.example")));
        QCOMPARE(tip, QStringLiteral("author@abr.example"));
        QVERIFY(visited);
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
