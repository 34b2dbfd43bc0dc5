#pragma once
// Asks for one user name.
#include <QDialog>
#include <memory>

namespace Ui {
class CAddUserDlg;
}

class CAddUserDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAddUserDlg(QWidget* parent = nullptr);
    ~CAddUserDlg() override;

    int DoModal();
    void UpdateData(bool saveAndValidate);

    QString name;

  public slots:
    void accept() override;

  private:
    std::unique_ptr<Ui::CAddUserDlg> ui_;
};
