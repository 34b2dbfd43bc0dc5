// The preview pane: the page read as GBK, remote pictures shown as they scroll into view, the double
// click reaching the clipboard with its alert, and a hostile page running no script, kept away from
// local files and from navigating the pane.
#include <QClipboard>
#include <QSignalSpy>
#include <QUrl>

#include "catalogue/album_catalogue.h"
#include "gui_test_support.h"
#include "output/link_format.h"
#include "output/preview_page.h"
#include "ui/gbk_text.h"

class PreviewPaneTest : public QObject {
    Q_OBJECT

  private:
    // One album of `n` photos whose pictures live on `host`; the first photo gets `title`.
    static void FillAlbum(AlbumCatalogue& catalogue, const std::string& host, int n,
                          const std::string& title) {
        catalogue.albumCount = 1;
        AlbumInfo& album = catalogue.albums[0];
        album.id = "al1";
        album.title = Gbk("相册");
        album.photoCount = n;
        album.listedCount = n;  // as the reader leaves it: the pages show only the listed records
        for (int i = 0; i < n; ++i) {
            album.photos[i].id = "p" + std::to_string(i);
            album.photos[i].url = host + "/d/f" + std::to_string(i);
            album.photos[i].title = i == 0 ? title : Gbk("照片");
        }
    }

    // Shows the album's preview page in a fresh pane and waits for it.
    void Show(CWebBrowser2& pane, const AlbumCatalogue& catalogue, bool copyAlert) {
        const std::string page =
            BuildPreviewPage(catalogue, 0, 0, FormatTemplates()[PreviewFormatIndex], copyAlert);
        const std::string path = WritePreviewFile(workspace_.path(), page);
        QVERIFY(!path.empty());
        pane.resize(800, 600);
        pane.show();
        pane.Navigate(path);
        QVERIFY(WaitForLoad(&pane));
    }

    Workspace workspace_;

  private slots:
    void pageIsReadAsGbkAndShowsRemotePictures() {
        PictureServer pictures;
        AlbumCatalogue catalogue;
        // GBK bytes that are also valid UTF-8 would be misread by a guessing browser.
        FillAlbum(catalogue, pictures.baseUrl().toStdString(), 3, Gbk("涓枃"));
        CWebBrowser2 pane;
        Show(pane, catalogue, true);
        QTRY_VERIFY_WITH_TIMEOUT(
            RunScript(&pane, "Array.from(document.images).every(i => i.complete && i.naturalWidth > 0)")
                .toBool(),
            30000);
        QCOMPARE(RunScript(&pane, "document.images.length").toInt(), 3);
        QVERIFY(RunScript(&pane, "document.body.innerText").toString().contains(QStringLiteral("标题:涓枃")));
        QCOMPARE(RunScript(&pane, "document.characterSet").toString().toUpper(), QStringLiteral("GBK"));
        QVERIFY(pictures.requests() >= 3);
    }

    // The title's script would alert, retitle the page and replace the clipboard object; the address
    // holds what would close the clip() string in the page's own script. Only the pane's copy runs.
    void doubleClickCopiesTheAddressAndAlertsWhileThePageRunsNoScript() {
        PictureServer pictures;
        AlbumCatalogue catalogue;
        FillAlbum(catalogue, pictures.baseUrl().toStdString(), 1,
                  "<script>document.title='owned';alert('owned');"
                  "window.clipboardData={setData:function(){document.title='stolen';}};</script>");
        const std::string address = pictures.baseUrl().toStdString() + "/d/f0\");document.title=(\"x";
        catalogue.albums[0].photos[0].url = address;
        for (const bool alert : {true, false}) {
            CWebBrowser2 pane;
            QStringList alerts;
            pane.SetAlertHandler([&](const QString& text) { alerts.append(text); });
            Show(pane, catalogue, alert);
            QTRY_VERIFY_WITH_TIMEOUT(RunScript(&pane, "document.images[0].naturalWidth > 0").toBool(), 30000);
            QGuiApplication::clipboard()->clear();
            const QVariantList box = RunScript(&pane,
                                               "(function(){var r=document.images[0].getBoundingClientRect();"
                                               "return [r.left + r.width/2, r.top + r.height/2];})()")
                                         .toList();
            QCOMPARE(box.size(), 2);
            DoubleClickPage(&pane, QPoint(box[0].toInt(), box[1].toInt()));
            const QString expected = QString::fromStdString(address + "/small.jpg");
            QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::clipboard()->text(), expected, 30000);
            if (alert) {
                QTRY_COMPARE_WITH_TIMEOUT(alerts.size(), 1, 30000);
                QCOMPARE(alerts.first(), QStringLiteral("地址已复制，按Ctrl+V即可粘贴。"));
            } else {
                QTest::qWait(200);
                QVERIFY(alerts.isEmpty());
            }
            QCOMPARE(RunScript(&pane, "document.title").toString(), QString());
        }
    }

    void hostileTitleCannotReadFilesOrNavigate() {
        const QString secret = workspace_.file("secret.txt");
        {
            QFile f(secret);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("top secret");
        }
        const std::string fileUrl = QUrl::fromLocalFile(secret).toString().toStdString();
        FakeXdgOpen opener;
        // A refresh navigates without script.
        const std::string title =
            "<meta http-equiv='refresh' "
            "content='0;url=http://evil.example/'><script>document.body.setAttribute('data-ran','1');"
            "setTimeout(function(){location.href='http://evil.example/';},50);</script>";
        AlbumCatalogue catalogue;
        FillAlbum(catalogue, "http://127.0.0.1:9", 1, title);
        CWebBrowser2 pane;
        Show(pane, catalogue, true);
        // Script on the page, as the pane's own runs, reaches neither local files nor other hosts.
        RunScript(&pane,
                  QString::fromStdString(
                      "window.probe=[];fetch('" + fileUrl +
                      "').then(r=>r.text()).then(t=>probe.push('fetch:'+t),e=>probe.push('fetch-blocked'));"
                      "var x=new XMLHttpRequest();try{x.open('GET','" +
                      fileUrl +
                      "',false);x.send();probe.push('xhr:'+x.responseText);}"
                      "catch(e){probe.push('xhr-blocked');}"
                      "fetch('http://127.0.0.1:9/steal').then(()=>probe.push('net'),"
                      "()=>probe.push('net-blocked'));"));
        QTRY_COMPARE_WITH_TIMEOUT(RunScript(&pane, "window.probe.length").toInt(), 3, 30000);
        const QString probe = RunScript(&pane, "window.probe.join(',')").toString();
        QVERIFY2(!probe.contains("top secret"), qPrintable(probe));
        QVERIFY2(
            probe.contains("fetch-blocked") && probe.contains("xhr-blocked") && probe.contains("net-blocked"),
            qPrintable(probe));
        QTest::qWait(300);
        // The pane keeps its own page, and the title's script never ran.
        QCOMPARE(pane.url().scheme(), QStringLiteral("albumpreview"));
        QVERIFY(!RunScript(&pane, "document.body.hasAttribute('data-ran')").toBool());
        QVERIFY(opener.Opened().isEmpty());
    }

    // An album far longer than the pane fetches the pictures near the view, the others once scrolled to.
    void picturesLoadAsTheyScrollIntoView() {
        PictureServer pictures;
        AlbumCatalogue catalogue;
        const int n = 400;
        FillAlbum(catalogue, pictures.baseUrl().toStdString(), n, Gbk("一"));
        CWebBrowser2 pane;
        Show(pane, catalogue, false);
        QTRY_VERIFY_WITH_TIMEOUT(RunScript(&pane, "document.images[0].naturalWidth > 0").toBool(), 30000);
        QTest::qWait(500);
        QVERIFY2(pictures.requests() < n / 2, qPrintable(QString::number(pictures.requests())));
        RunScript(&pane, "document.images[document.images.length - 1].scrollIntoView()");
        QTRY_VERIFY_WITH_TIMEOUT(
            RunScript(&pane, "document.images[document.images.length - 1].naturalWidth > 0").toBool(), 30000);
    }

    void followedLinkOpensInTheSystemBrowser() {
        FakeXdgOpen opener;
        AlbumCatalogue catalogue;
        FillAlbum(
            catalogue, "http://127.0.0.1:9", 1,
            "<a id='out' href='http://www.zorbi.example/x' style='display:block;width:200px;height:40px'>"
            "link</a>");
        CWebBrowser2 pane;
        Show(pane, catalogue, true);
        const QVariantList box =
            RunScript(&pane,
                      "(function(){var r=document.getElementById('out').getBoundingClientRect();"
                      "return [r.left + 10, r.top + 10];})()")
                .toList();
        QCOMPARE(box.size(), 2);
        QWidget* target = pane.focusProxy();
        QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, QPoint(box[0].toInt(), box[1].toInt()));
        QTRY_COMPARE_WITH_TIMEOUT(opener.Opened().size(), 1, 30000);
        QCOMPARE(QUrl(opener.Opened().first()), QUrl("http://www.zorbi.example/x"));
        QCOMPARE(pane.url().scheme(), QStringLiteral("albumpreview"));
    }

    void navigatingTwiceShowsTheFileAsItIsNow() {
        CWebBrowser2 pane;
        pane.show();
        const std::string path = WritePreviewFile(workspace_.path(), "<html><body>one</body></html>");
        pane.Navigate(path);
        QVERIFY(WaitForLoad(&pane));
        WritePreviewFile(workspace_.path(), "<html><body>two</body></html>");
        pane.Navigate(path);
        QVERIFY(WaitForLoad(&pane));
        QCOMPARE(RunScript(&pane, "document.body.innerText").toString(), QStringLiteral("two"));
    }
};

GUI_TEST_MAIN(PreviewPaneTest)
#include "preview_pane_test.moc"
