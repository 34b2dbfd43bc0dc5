#pragma once
// The About box: the program's name and version and the maker's addresses.
#include <QDialog>
#include <memory>

class CLinkLabel;

namespace Ui {
class CAboutDlg;
}

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    static constexpr const char* kMakerMail = "author@abr.example";
    static constexpr const char* kMakerWebPage = "http://www.abr.example";

    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

    int DoModal();
    CLinkLabel* mailLink() const;

  private:
    std::unique_ptr<Ui::CAboutDlg> ui_;
};
