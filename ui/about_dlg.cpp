#include "ui/about_dlg.h"

#include "ui/app_resources.h"
#include "ui/dialog_template.h"
#include "ui/link_label.h"
#include "ui_about_dlg.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CAboutDlg>()) {
    InitUiResources();
    ui_->setupUi(this);
    PrepareTemplateWindow(this);
    PrepareFixedDialog(this);
    ui_->iconLabel->setPixmap(QPixmap(QStringLiteral(":/albumbrowser/icon-32.png")));
    ui_->mailLink->setText(QString::fromLatin1(kMakerMail));
    ui_->webAddressLabel->setText(QString::fromLatin1(kMakerWebPage));
    connect(ui_->okButton, &QPushButton::clicked, this, &CAboutDlg::accept);
}

CAboutDlg::~CAboutDlg() = default;

int CAboutDlg::DoModal() {
    ui_->mailLink->PreSubclassWindow();
    return exec();
}

CLinkLabel* CAboutDlg::mailLink() const {
    return ui_->mailLink;
}
