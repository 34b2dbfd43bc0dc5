// The screen's conversion of GBK texts gives exactly what the core converter gives, also for broken
// bytes, while taking its shortcuts.
#include "ui/gbk_text.h"

#include <QTest>
#include <random>

#include "platform/codepage.h"

namespace {

QString Reference(const std::string& gbk) {
    return QString::fromStdString(GbkToUtf8(gbk));
}

}  // namespace

class GbkTextTest : public QObject {
    Q_OBJECT
  private slots:
    void everyTwoByteCodeAsTheConverterReadsIt() {
        std::string all;
        for (int lead = 0x80; lead <= 0xFF; ++lead) {
            for (int trail = 0x30; trail <= 0xFF; ++trail) {
                std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
                QCOMPARE(FromGbk(pair), Reference(pair));
                all += pair;
            }
        }
        QCOMPARE(FromGbk(all), Reference(all));
    }

    void brokenBytesBetweenTextAsTheConverterReadsThem() {
        const std::vector<std::string> cases = {
            "",
            "plain <html>\r\n",
            Utf8ToGbk("标题:春天 a"),
            "\x80\xb0"
            "A",
            "\xb0",
            "abc\xb0",
            "\xb0\x30\xb0\xa1",
            "\xff\xfe\x41",
            "\x81\x7f\x81\x40",
            Utf8ToGbk("€") + "x",
        };
        for (const std::string& text : cases) QCOMPARE(FromGbk(text), Reference(text));
        std::mt19937 random(7);
        std::uniform_int_distribution<int> pick(0, 255);
        for (int round = 0; round < 2000; ++round) {
            std::string text;
            for (int k = 0; k < 24; ++k)
                text += static_cast<char>(pick(random) < 128 ? pick(random) % 128 : pick(random));
            QCOMPARE(FromGbk(text), Reference(text));
        }
    }

    void roundTripOfScreenText() {
        const QString text = QStringLiteral("相册 Zorbi浏览器 ok");
        QCOMPARE(FromGbk(ToGbk(text)), text);
        QCOMPARE(ToGbk(QStringLiteral("😀")), std::string("?"));
    }
};

QTEST_GUILESS_MAIN(GbkTextTest)
#include "gbk_text_test.moc"
