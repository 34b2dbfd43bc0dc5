#pragma once
// Hands files and addresses to the desktop, as the shell's "Open" verb does.
#include <functional>
#include <string>

class QObject;
class QUrl;
class QWidget;

// Opens a local file (a GBK path) or an address with the desktop's handler, without waiting for it;
// when the handler is missing or fails, a message box over `owner` says so.
void ShellOpenFile(const std::string& gbkPath, QWidget* owner);
void ShellOpenUrl(const QUrl& url, QWidget* owner);

// The status ShellOpenUrlReported gives when xdg-open is missing or could not be started.
constexpr int kShellOpenNotRun = -1;
// Runs xdg-open on the address without waiting for it. Once it has ended, `done` gets its exit status
// (0 opened; 3 no handler found, and xdg-open's other failures), kShellOpenNotRun when it could not
// run, or 255 when it crashed. `done` is dropped when `context` goes first.
void ShellOpenUrlReported(const QUrl& url, QObject* context, std::function<void(int status)> done);
