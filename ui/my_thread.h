#pragma once
// The worker thread of one job: it runs the job on the main window and ends; the object deletes
// itself once its thread has finished.
#include <QThread>

class CAlbumBrowserDlg;

class CMyThread : public QThread {
    Q_OBJECT
  public:
    CMyThread();

    void SetOwner(CAlbumBrowserDlg* owner) { owner_ = owner; }
    void SetJobOption(int option) { jobOption_ = option; }

    // Starts the thread; false when it could not be started (the object then stays to its creator).
    virtual bool Start();

  protected:
    void run() override;
    // The thread body: runs the job of jobOption on the owner.
    virtual bool InitInstance();

  private:
    int jobOption_ = 0;
    CAlbumBrowserDlg* owner_ = nullptr;
};
