#include "ui/skin.h"

#include <QApplication>

#include "platform/file_util.h"

void SkinStart(const std::string& gbkPath) {
    SkinSwitch(gbkPath);
}

void SkinSwitch(const std::string& gbkPath) {
    std::string sheet;
    if (gbkPath.empty() || !ReadWholeFile(gbkPath, sheet)) sheet.clear();
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        app->setStyleSheet(QString::fromUtf8(sheet.data(), static_cast<qsizetype>(sheet.size())));
    }
}

void SkinStop() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) app->setStyleSheet(QString());
}
