#pragma once
// The program's compiled-in resources (icon and default skin) and the translations of Qt's own texts.
#include <QIcon>

// Makes the resources of the static library available; call before the first use.
void InitUiResources();
// The application icon in its three sizes.
QIcon AppIcon();
// Installs the system's Chinese translations of Qt (standard buttons, the file chooser, the web view's
// menu), so that Qt's texts match the program's; call once the application object exists. Returns false
// when Qt's base translation could not be loaded.
bool InstallQtTranslations();
