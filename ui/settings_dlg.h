#pragma once
// The settings dialog: edits the one settings record of the program and saves it to config.ini.
#include <QDialog>
#include <memory>

#include "catalogue/app_settings.h"

class QCheckBox;
class QRadioButton;

namespace Ui {
class CSettingsDlg;
}

class CSettingsDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CSettingsDlg(const std::string& startupDirectory, QWidget* parent = nullptr);
    ~CSettingsDlg() override;

    // Reloads the record from config.ini, fills the controls and runs the dialog. Unless it ends with
    // 保存, the record comes back as it was before (config.ini is only written by 保存), and a skin
    // switched meanwhile is switched back. A config.ini that cannot be read is told once, at start-up,
    // not here. 每天自动备份 shows whether the daily timer is on (greyed, with the reason as its tool
    // tip, where that cannot be known); 保存 switches it when it was changed.
    int DoModal();
    // Reads the controls into the record (false, with a message, when the port is not 1 to 65535, the
    // connection count is not 1 to 16 or GBK cannot hold the output path; the record is then unchanged)
    // or fills them from it.
    bool UpdateData(bool saveAndValidate);

    AppSettings settings;

  public slots:
    void OnSave();
    void OnChooseFolder();
    void OnChooseSkin();
    void OnSwitchSkin();

  protected:
    // The choosers; an empty result is a cancelled choice.
    virtual QString ChooseFolder(const QString& initialFolder);
    virtual QString ChooseSkinFile(const QString& initialPath);

  private:
    std::unique_ptr<Ui::CSettingsDlg> ui_;
    QRadioButton* detailRadios_[DetailModeCount];
    // One check box per picture size, bit i of the record's pictureSizes.
    static constexpr int PictureSizeCount = 4;
    QCheckBox* pictureSizeChecks_[PictureSizeCount];
    // 切换外观 was pressed during this run of the dialog.
    bool skinSwitched_ = false;
    // The daily timer was on when the dialog opened.
    bool scheduleWasOn_ = false;
};
