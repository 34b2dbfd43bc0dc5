#include "ui/settings_dlg.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <memory>

#include "platform/backup_schedule.h"
#include "platform/file_util.h"
#include "ui/dialog_template.h"
#include "ui/gbk_text.h"
#include "ui/message_box.h"
#include "ui/skin.h"
#include "ui_settings_dlg.h"

CSettingsDlg::CSettingsDlg(const std::string& startupDirectory, QWidget* parent)
    : QDialog(parent), settings(startupDirectory), ui_(std::make_unique<Ui::CSettingsDlg>()) {
    ui_->setupUi(this);
    PrepareTemplateWindow(this);
    PrepareFixedDialog(this);
    detailRadios_[0] = ui_->detailRadio0;
    detailRadios_[1] = ui_->detailRadio1;
    detailRadios_[2] = ui_->detailRadio2;
    detailRadios_[3] = ui_->detailRadio3;
    pictureSizeChecks_[0] = ui_->pictureSizeCheck0;
    pictureSizeChecks_[1] = ui_->pictureSizeCheck1;
    pictureSizeChecks_[2] = ui_->pictureSizeCheck2;
    pictureSizeChecks_[3] = ui_->pictureSizeCheck3;
    ui_->proxyPortEdit->setMaxLength(5);
    ui_->connectionsEdit->setMaxLength(2);
    connect(ui_->saveButton, &QPushButton::clicked, this, &CSettingsDlg::OnSave);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &CSettingsDlg::reject);
    connect(ui_->folderChooseButton, &QPushButton::clicked, this, &CSettingsDlg::OnChooseFolder);
    connect(ui_->skinChooseButton, &QPushButton::clicked, this, &CSettingsDlg::OnChooseSkin);
    connect(ui_->skinSwitchButton, &QPushButton::clicked, this, &CSettingsDlg::OnSwitchSkin);
}

CSettingsDlg::~CSettingsDlg() = default;

namespace {

// AppSettings cannot be assigned (its start-up folder is const), so the record is made again in place
// as a copy of the one kept.
void RestoreRecord(AppSettings& record, const AppSettings& kept) {
    std::destroy_at(&record);
    std::construct_at(&record, kept);
}

bool HoldsInGbk(const QString& text) {
    return FromGbk(ToGbk(text)) == text;
}

QString UnsavablePathText(const QString& path) {
    return QStringLiteral("路径中有无法保存的字符：%1").arg(path);
}

}  // namespace

int CSettingsDlg::DoModal() {
    // 取消, Esc and the frame leave the record as it was before the dialog, reload and choosers included.
    const AppSettings kept(settings);
    skinSwitched_ = false;
    settings.Load();
    UpdateData(false);
    ScheduleState schedule;
    const std::string unknown = QuerySchedule(schedule);
    scheduleWasOn_ = schedule.enabled;
    ui_->scheduleCheck->setChecked(schedule.enabled);
    ui_->scheduleCheck->setEnabled(unknown.empty());
    ui_->scheduleCheck->setToolTip(FromGbk(unknown));
    ui_->proxyServerEdit->setFocus();
    const int result = exec();
    if (result != Accepted) {
        RestoreRecord(settings, kept);
        if (skinSwitched_) SkinSwitch(settings.skinFile);
    }
    return result;
}

bool CSettingsDlg::UpdateData(bool saveAndValidate) {
    if (!saveAndValidate) {
        ui_->proxyServerEdit->setText(FromGbk(settings.proxyServer));
        ui_->proxyUserEdit->setText(FromGbk(settings.proxyUser));
        ui_->proxyPasswordEdit->setText(FromGbk(settings.proxyPassword));
        ui_->outputPathEdit->setText(FromGbk(settings.outputPath));
        ui_->proxyPortEdit->setText(QString::number(settings.proxyPort));
        ui_->skinEdit->setText(FromGbk(settings.skinFile));
        ui_->customFormatEdit->setText(FromGbk(settings.customFormat));
        ui_->detailGroup->setExclusive(false);
        for (int i = 0; i < DetailModeCount; ++i) detailRadios_[i]->setChecked(i == settings.detailMode);
        ui_->detailGroup->setExclusive(true);
        for (int i = 0; i < PictureSizeCount; ++i)
            pictureSizeChecks_[i]->setChecked((settings.pictureSizes >> i) & 1u);
        ui_->connectionsEdit->setText(QString::number(settings.connections));
        return true;
    }
    // The numbers are checked before anything is taken, so a refused reading changes nothing.
    bool whole = false;
    const int port = ui_->proxyPortEdit->text().trimmed().toInt(&whole);
    if (!whole || port < 1 || port > 65535) {
        ShowMessage(this, QStringLiteral("端口必须是1到65535之间的整数。"), QString(), QMessageBox::Warning);
        ui_->proxyPortEdit->setFocus();
        ui_->proxyPortEdit->selectAll();
        return false;
    }
    const int connections = ui_->connectionsEdit->text().trimmed().toInt(&whole);
    if (!whole || connections < 1 || connections > 16) {
        ShowMessage(this, QStringLiteral("同时连接数必须是1到16之间的整数。"), QString(),
                    QMessageBox::Warning);
        ui_->connectionsEdit->setFocus();
        ui_->connectionsEdit->selectAll();
        return false;
    }
    // A folder GBK cannot name would be saved as another one ("?" for each such character).
    const QString outputPath = ui_->outputPathEdit->text();
    if (!HoldsInGbk(outputPath)) {
        ShowMessage(this, UnsavablePathText(outputPath), QString(), QMessageBox::Warning);
        ui_->outputPathEdit->setFocus();
        return false;
    }
    settings.proxyServer = ToGbk(ui_->proxyServerEdit->text());
    settings.proxyUser = ToGbk(ui_->proxyUserEdit->text());
    settings.proxyPassword = ToGbk(ui_->proxyPasswordEdit->text());
    settings.outputPath = ToGbk(outputPath);
    settings.proxyPort = port;
    settings.skinFile = ToGbk(ui_->skinEdit->text());
    settings.customFormat = ToGbk(ui_->customFormatEdit->text());
    settings.detailMode = static_cast<DetailMode>(-1);  // none chosen
    for (int i = 0; i < DetailModeCount; ++i) {
        if (detailRadios_[i]->isChecked()) settings.detailMode = static_cast<DetailMode>(i);
    }
    settings.pictureSizes = 0;
    for (int i = 0; i < PictureSizeCount; ++i) {
        if (pictureSizeChecks_[i]->isChecked()) settings.pictureSizes |= 1u << i;
    }
    settings.connections = connections;
    return true;
}

void CSettingsDlg::OnSave() {
    if (!UpdateData(true)) return;
    // The values hold for this run even when they cannot be kept.
    const std::string failure = settings.Save();
    if (!failure.empty()) ShowMessage(this, FromGbk(failure), QString(), QMessageBox::Warning);
    // The timer backs up the program's folder, the one this program runs in.
    const bool scheduleOn = ui_->scheduleCheck->isChecked();
    if (ui_->scheduleCheck->isEnabled() && scheduleOn != scheduleWasOn_) {
        const std::string refused = SetSchedule(scheduleOn, AbsoluteOsPath(settings.startupDirectory));
        if (!refused.empty()) ShowMessage(this, FromGbk(refused), QString(), QMessageBox::Warning);
    }
    SkinSwitch(settings.skinFile);
    accept();
}

void CSettingsDlg::OnChooseFolder() {
    // The chooser starts in the folder the box names, else in the start-up folder.
    const QString typed = ui_->outputPathEdit->text().trimmed();
    const QString startup = FromGbk(settings.startupDirectory);
    const QString named = typed.isEmpty() ? QString() : QDir(startup).absoluteFilePath(typed);
    const QString folder = ChooseFolder(!named.isEmpty() && QFileInfo(named).isDir() ? named : startup);
    if (!folder.isEmpty() && !HoldsInGbk(folder)) {
        ShowMessage(this, UnsavablePathText(folder), QString(), QMessageBox::Warning);
        return;
    }
    if (!folder.isEmpty()) settings.outputPath = ToGbk(folder);
    UpdateData(false);
}

void CSettingsDlg::OnChooseSkin() {
    const QString initial = FromGbk(JoinPath(JoinPath(settings.startupDirectory, "skin"), "default.u3"));
    const QString file = ChooseSkinFile(initial);
    if (!file.isEmpty()) settings.skinFile = ToGbk(file);
    UpdateData(false);
}

void CSettingsDlg::OnSwitchSkin() {
    skinSwitched_ = true;
    SkinSwitch(settings.skinFile);
}

QString CSettingsDlg::ChooseFolder(const QString& initialFolder) {
    return QFileDialog::getExistingDirectory(this, QStringLiteral("保存相册到..."), initialFolder,
                                             QFileDialog::ShowDirsOnly);
}

QString CSettingsDlg::ChooseSkinFile(const QString& initialPath) {
    return QFileDialog::getOpenFileName(this, QString(), initialPath,
                                        QStringLiteral("Skin Files (*.u3);;All Files (*)"));
}
