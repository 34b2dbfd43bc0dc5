#include "ui/skin.h"

#include <QApplication>
#include <QFile>

#include "platform/file_util.h"
#include "ui/app_resources.h"

void SkinStart(const std::string& gbkPath) {
    SkinSwitch(gbkPath);
}

void SkinSwitch(const std::string& gbkPath) {
    // Read through Qt so that the skin shipped inside the program (":/albumbrowser/default.u3") serves too.
    InitUiResources();
    QString sheet;
    QFile file(QString::fromStdString(ToOsPath(gbkPath)));
    if (!gbkPath.empty() && file.open(QIODevice::ReadOnly)) sheet = QString::fromUtf8(file.readAll());
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) app->setStyleSheet(sheet);
}

void SkinStop() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) app->setStyleSheet(QString());
}
