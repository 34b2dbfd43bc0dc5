#include "ui/gbk_text.h"

#include "platform/codepage.h"

QString FromGbk(std::string_view gbk) {
    const std::string utf8 = GbkToUtf8(gbk);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string ToGbk(const QString& text) {
    return Utf8ToGbk(text.toUtf8().toStdString());
}
