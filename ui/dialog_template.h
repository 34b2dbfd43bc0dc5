#pragma once
// What every dialog built from a template needs beyond its Designer file.
#include <QFont>

class QDialog;
class QWidget;

// The 9-point dialog font: 宋体 when installed, else the Noto CJK face Debian ships.
QFont DialogFont();

// Applies the dialog font to a window made from a template, keeps group frames behind the controls
// they surround, and lets single-line labels and buttons grow downwards to the font's line height
// where the template's 8 units would clip the CJK glyphs.
void PrepareTemplateWindow(QWidget* window);

// Places the window centred on its parent's window (on its screen when it has none or that is hidden),
// kept on the screen.
void CentreOnParent(QWidget* window);
// Keeps a dialog at its template size and opens it centred on its parent every time it is shown.
void PrepareFixedDialog(QDialog* dialog);
