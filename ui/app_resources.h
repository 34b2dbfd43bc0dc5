#pragma once
// The program's compiled-in resources: icon and default skin.
#include <QIcon>

// Makes the resources of the static library available; call before the first use.
void InitUiResources();
// The application icon in its three sizes.
QIcon AppIcon();
