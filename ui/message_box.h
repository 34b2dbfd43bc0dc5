#pragma once
// Message boxes as the program shows them: a box without a title carries the program's name, "Zorbi浏览器".
#include <QMessageBox>
#include <QString>

class QWidget;

// Shows the box modally and returns the button pressed; `defaultButton` is the one Enter presses.
QMessageBox::StandardButton ShowMessage(QWidget* owner, const QString& text, const QString& title = QString(),
                                        QMessageBox::Icon icon = QMessageBox::NoIcon,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
