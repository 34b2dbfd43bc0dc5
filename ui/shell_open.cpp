#include "ui/shell_open.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include "platform/file_util.h"

void ShellOpenFile(const std::string& gbkPath) {
    ShellOpenUrl(QUrl::fromLocalFile(QString::fromStdString(ToOsPath(gbkPath))));
}

bool ShellOpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}
