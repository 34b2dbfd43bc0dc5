#include "ui/clip_text_dlg.h"

#include "ui/dialog_template.h"
#include "ui_clip_text_dlg.h"

CClipTextDlg::CClipTextDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CClipTextDlg>()) {
    ui_->setupUi(this);
    PrepareTemplateWindow(this);
    PrepareFixedDialog(this);
    connect(ui_->okButton, &QPushButton::clicked, this, &CClipTextDlg::accept);
}

CClipTextDlg::~CClipTextDlg() = default;

int CClipTextDlg::DoModal() {
    UpdateData(false);
    return exec();
}

void CClipTextDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        text = ui_->textEdit->toPlainText();
    } else {
        // Line breaks of the Windows kind show as one break each.
        ui_->textEdit->setPlainText(QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    }
}

QString CClipTextDlg::ShownText() const {
    return ui_->textEdit->toPlainText();
}

void CClipTextDlg::accept() {
    UpdateData(true);
    QDialog::accept();
}
