#include "ui/message_box.h"

#include <QCoreApplication>

QMessageBox::StandardButton ShowMessage(QWidget* owner, const QString& text, const QString& title,
                                        QMessageBox::Icon icon, QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, title.isEmpty() ? QCoreApplication::applicationName() : title, text, buttons,
                    owner);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
