#include "ui/message_box.h"

#include "ui/dialog_template.h"

namespace {

// A box opens centred on its owner as the dialogs do; it takes its size only in its own showEvent.
class CentredMessageBox : public QMessageBox {
  public:
    using QMessageBox::QMessageBox;

  protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        CentreOnParent(this);
    }
};

}  // namespace

QMessageBox::StandardButton ShowMessage(QWidget* owner, const QString& text, const QString& title,
                                        QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) {
    // The name users know the program by, not the executable's.
    CentredMessageBox box(icon, title.isEmpty() ? QStringLiteral("Zorbi浏览器") : title, text, buttons,
                          owner);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
