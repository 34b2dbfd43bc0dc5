#include "ui/app_resources.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

static void InitAlbumBrowserResources() {
    Q_INIT_RESOURCE(albumbrowser);
}

void InitUiResources() {
    static const bool done = (InitAlbumBrowserResources(), true);
    (void)done;
}

QIcon AppIcon() {
    InitUiResources();
    QIcon icon;
    for (const char* size : {"16", "32", "48"})
        icon.addFile(QStringLiteral(":/albumbrowser/icon-%1.png").arg(size));
    return icon;
}

bool InstallQtTranslations() {
    static bool base = false;
    static bool installed = false;
    if (installed) return base;
    installed = true;
    // Chinese whatever the locale: every text of the program's own is.
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char* catalogue : {"qtbase", "qtwebengine"}) {
        auto* translator = new QTranslator(QCoreApplication::instance());
        if (translator->load(QStringLiteral("%1_zh_CN").arg(QLatin1String(catalogue)), folder) &&
            QCoreApplication::installTranslator(translator)) {
            if (QLatin1String(catalogue) == QLatin1String("qtbase")) base = true;
        } else {
            delete translator;
        }
    }
    return base;
}
