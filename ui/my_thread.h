#pragma once
// The worker thread of one job: it runs the job on the main window and ends; the object deletes
// itself once its thread has finished.
#include <QThread>

class CAlbumBrowserDlg;

// The job a worker runs on the main window.
enum class JobKind { ImportLocal, UpdateFromNetwork, RefreshAlbumList, VerifyBackup };

class CMyThread : public QThread {
    Q_OBJECT
  public:
    CMyThread();

    void SetOwner(CAlbumBrowserDlg* owner) { owner_ = owner; }
    void SetJob(JobKind job) { job_ = job; }

    // Starts the thread; false when it could not be started (the object then stays to its creator).
    virtual bool Start();

  protected:
    void run() override;
    // The thread body: runs the job on the owner.
    virtual bool InitInstance();

  private:
    JobKind job_ = JobKind::ImportLocal;
    CAlbumBrowserDlg* owner_ = nullptr;
};
