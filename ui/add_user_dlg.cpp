#include "ui/add_user_dlg.h"

#include "ui/dialog_template.h"
#include "ui_add_user_dlg.h"

CAddUserDlg::CAddUserDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CAddUserDlg>()) {
    ui_->setupUi(this);
    PrepareTemplateWindow(this);
    PrepareFixedDialog(this);
    connect(ui_->okButton, &QPushButton::clicked, this, &CAddUserDlg::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &CAddUserDlg::reject);
}

CAddUserDlg::~CAddUserDlg() = default;

int CAddUserDlg::DoModal() {
    UpdateData(false);
    return exec();
}

void CAddUserDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        name = ui_->nameEdit->text();
    } else {
        ui_->nameEdit->setText(name);
    }
}

void CAddUserDlg::accept() {
    UpdateData(true);
    QDialog::accept();
}
