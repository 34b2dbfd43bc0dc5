#include "ui/message_box.h"

QMessageBox::StandardButton ShowMessage(QWidget* owner, const QString& text, const QString& title,
                                        QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) {
    // The name users know the program by, not the executable's.
    QMessageBox box(icon, title.isEmpty() ? QStringLiteral("Zorbi浏览器") : title, text, buttons, owner);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
