#include "ui/app_resources.h"

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
