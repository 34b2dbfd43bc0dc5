#include "ui/my_thread.h"

#include "ui/album_browser_dlg.h"

CMyThread::CMyThread() {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

bool CMyThread::Start() {
    start();
    // QThread reports a failed start only by not running.
    return isRunning() || isFinished();
}

void CMyThread::run() {
    InitInstance();
}

bool CMyThread::InitInstance() {
    switch (job_) {
        case JobKind::ImportLocal:
            owner_->UpdateAlbums(true);
            break;
        case JobKind::UpdateFromNetwork:
            owner_->UpdateAlbums(false);
            break;
        case JobKind::RefreshAlbumList:
            owner_->RefreshAlbumList();
            break;
        case JobKind::VerifyBackup:
            owner_->VerifyBackup();
            break;
    }
    return false;
}
