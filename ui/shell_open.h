#pragma once
// Hands files and addresses to the desktop, as the shell's "Open" verb does. Failures are not reported.
#include <string>

class QUrl;

// Opens a local file (a GBK path) with the desktop's handler.
void ShellOpenFile(const std::string& gbkPath);
// Opens an address with the desktop's handler; true when the desktop took it.
bool ShellOpenUrl(const QUrl& url);
