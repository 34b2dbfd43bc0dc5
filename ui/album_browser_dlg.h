#pragma once
// The main window: the user list, the album list, the size and format choices, the template box and
// the preview pane, and every command on them.
#include <QDialog>
#include <QPointer>
#include <memory>
#include <string>

#include "catalogue/album_catalogue.h"
#include "catalogue/rest_reader.h"
#include "catalogue/zorbi_service.h"
#include "jobs/job_progress.h"
#include "output/link_format.h"
#include "ui/my_thread.h"
#include "ui/progress_dlg.h"
#include "ui/settings_dlg.h"

class CMyThread;
class CWebBrowser2;
class QAbstractButton;
class QListWidget;
class QTableWidget;

namespace Ui {
class CAlbumBrowserDlg;
}

class CAlbumBrowserDlg : public QDialog, public AlbumListView {
    Q_OBJECT
  public:
    CAlbumBrowserDlg(AlbumCatalogue& catalogue, const std::string& startupDirectory, ZorbiService service,
                     QWidget* parent = nullptr);
    ~CAlbumBrowserDlg() override;

    // Prepares the window (user list, album list columns, first preview) and runs it.
    int DoModal();
    void OnInitDialog();
    // Reads every control into its member, or writes every member into its control.
    void UpdateData(bool saveAndValidate);

    // The preview: the page of the album at albumIndex on the clipboard and in temp.htm, and in the
    // pane; while the user list is empty the pane shows how to begin instead.
    void RebuildPreview();
    // Marks each user by its last backup (from its ledger): a user whose last update did not end
    // complete gets a warning icon and the reason in its tool tip; the line under the list tells the
    // selected user's.
    void ShowBackupState();

    // The jobs, run on the worker thread.
    void UpdateAlbums(bool fromCache);
    void RefreshAlbumList();
    void VerifyBackup();

    // The album list, driven from the worker thread through the window thread.
    int RowCount() override;
    void DeleteRow(int row) override;
    bool InsertRow(int row, const std::string& title) override;
    void SetCountText(int row, const std::string& text) override;

    AppSettings& settings() { return settingsDlg_.settings; }
    CProgressDlg& progressDlg() { return progressDlg_; }
    CWebBrowser2* browser() const;
    QListWidget* userList() const;
    QTableWidget* albumList() const;

    // The choices, as last exchanged with the controls.
    int albumIndex = 0;
    std::string selectedUser;
    int sizeIndex = 2;
    int formatIndex = 3;
    std::string outputTemplate;
    int copyAlert = 1;

  public slots:
    void OnChooseSize();
    void OnChooseFormat();
    void OnChooseCustomFormat();
    void OnImportLocal();
    void OnUpdateFromNetwork();
    void OnVerifyBackup();
    void OnViewLocal();
    void OnOpenGallery();
    void OnAlbumSelectionChanged();
    void OnOpenAlbumPage();
    void OnAddUser();
    void OnDeleteUser();
    void OnSettings();
    void OnShowClipboardText();
    void OnOpenPreviewPage();
    void OnHelp();
    void OnAbout();
    void OnExit();

  protected:
    // The worker of a job; tests hand in their own.
    virtual CMyThread* CreateWorker();
    // The About item of the system menu, where the platform has one.
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // Which controls follow the window's right and bottom edges when it is resized.
    void AnchorControls();
    // Shrinks the window, down to its minimum, to fit a small screen with its title bar, and centres it.
    void PlaceOnScreen();
    void StartJob(JobKind job);
    void ShowContextMenu(const QPoint& pos);
    // The line under the user list, for the selected user.
    void ShowSelectedBackup();
    // The page that says how to begin, with the output folder.
    void ShowWelcomePage();

    AlbumCatalogue& catalogue_;
    ZorbiService service_;
    CSettingsDlg settingsDlg_;
    RestReader reader_;
    CProgressDlg progressDlg_;
    std::unique_ptr<Ui::CAlbumBrowserDlg> ui_;
    QAbstractButton* sizeRadios_[SizeCount];
    QAbstractButton* formatRadios_[FormatCount];
    // The user folder of the jobs: the name the running job started with, and the name of the last job
    // that refilled the album list, whose pages a double click opens.
    std::string jobUser_;
    std::string albumListUser_;
    QPointer<CMyThread> worker_;
};
