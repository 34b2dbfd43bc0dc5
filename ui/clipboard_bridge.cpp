#include "ui/clipboard_bridge.h"

#include <QClipboard>
#include <QGuiApplication>

bool ClipboardBridge::setData(const QString& format, const QString& text) {
    const QString kind = format.toLower();
    if (kind != QLatin1String("text") && kind != QLatin1String("text/plain")) return false;
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(text);
    emit copied(text);
    return true;
}
