#pragma once
// Shows the text the clipboard holds; edits there go nowhere.
#include <QDialog>
#include <memory>

namespace Ui {
class CClipTextDlg;
}

class CClipTextDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CClipTextDlg(QWidget* parent = nullptr);
    ~CClipTextDlg() override;

    int DoModal();
    void UpdateData(bool saveAndValidate);
    // The text shown, for tests.
    QString ShownText() const;

    QString text;

  public slots:
    void accept() override;

  private:
    std::unique_ptr<Ui::CClipTextDlg> ui_;
};
