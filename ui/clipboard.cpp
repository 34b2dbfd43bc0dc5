#include "ui/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

#include "ui/gbk_text.h"

void SetClipboardText(const std::string& gbk) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(FromGbk(gbk));
}

std::string GetClipboardText() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    return clipboard ? ToGbk(clipboard->text()) : std::string();
}
