#include "ui/gbk_text.h"

#include <QStringList>
#include <vector>

#include "platform/codepage.h"

namespace {

constexpr int kTrails = 0xFF - 0x40;  // trail bytes 0x40 to 0xFE

// The character of every two-byte GBK code, 0 where the code page has none; made once from the
// converter itself, so the fast path gives what the converter gives.
const std::vector<char16_t>& PairTable() {
    static const std::vector<char16_t> table = [] {
        std::vector<char16_t> codes(static_cast<size_t>(0xFE - 0x81 + 1) * kTrails, 0);
        std::string pairs;
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                pairs += static_cast<char>(lead);
                pairs += static_cast<char>(trail);
                pairs += '\n';
            }
        }
        const QStringList pieces = QString::fromUtf8(GbkToUtf8(pairs)).split(QLatin1Char('\n'));
        if (pieces.size() != static_cast<qsizetype>(codes.size()) + 1) return codes;
        for (size_t k = 0; k < codes.size(); ++k) {
            const QString& piece = pieces[static_cast<qsizetype>(k)];
            if (piece.size() == 1 && piece[0] != QLatin1Char('?')) codes[k] = piece[0].unicode();
        }
        return codes;
    }();
    return table;
}

}  // namespace

QString FromGbk(std::string_view gbk) {
    // Pages are long and mostly ASCII: plain runs are copied, two-byte characters come from the table,
    // and whatever else goes through the converter up to the next byte below 0x40, which can be no
    // part of a character, so the result is the converter's own.
    const std::vector<char16_t>& table = PairTable();
    QString out;
    out.reserve(static_cast<qsizetype>(gbk.size()));
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(gbk[k]); };
    size_t i = 0;
    while (i < gbk.size()) {
        size_t run = i;
        while (run < gbk.size() && byte(run) < 0x80) ++run;
        if (run > i) {
            out.append(QLatin1StringView(gbk.data() + i, static_cast<qsizetype>(run - i)));
            i = run;
            continue;
        }
        const unsigned char lead = byte(i);
        if (lead >= 0x81 && lead <= 0xFE && i + 1 < gbk.size() && byte(i + 1) >= 0x40 &&
            byte(i + 1) <= 0xFE) {
            const char16_t code = table[static_cast<size_t>(lead - 0x81) * kTrails + (byte(i + 1) - 0x40)];
            if (code != 0) {
                out.append(QChar(code));
                i += 2;
                continue;
            }
        }
        size_t end = i;
        while (end < gbk.size() && byte(end) >= 0x40) ++end;
        const std::string utf8 = GbkToUtf8(gbk.substr(i, end - i));
        out.append(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
        i = end;
    }
    return out;
}

std::string ToGbk(const QString& text) {
    return Utf8ToGbk(text.toUtf8().toStdString());
}
