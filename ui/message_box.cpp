#include "ui/message_box.h"

#include <QCoreApplication>

QMessageBox::StandardButton ShowMessage(QWidget* owner, const QString& text, const QString& title,
                                        QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, title.isEmpty() ? QCoreApplication::applicationName() : title, text, buttons,
                    owner);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
