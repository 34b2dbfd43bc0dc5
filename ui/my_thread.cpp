#include "ui/my_thread.h"

#include "ui/album_browser_dlg.h"
#include "ui/message_box.h"
#include "ui/window_thread.h"

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
    switch (jobOption_) {
        case 0:
            owner_->UpdateAlbums(true);
            break;
        case 1:
            owner_->UpdateAlbums(false);
            break;
        case 2:
        case 3:
            break;
        case 4:
            owner_->RefreshAlbumList();
            break;
        default:
            RunOnWindowThread(owner_, [this] {
                ShowMessage(owner_, QStringLiteral("错误的线程选项！"), QStringLiteral("界面线程错误"),
                            QMessageBox::Critical);
            });
            break;
    }
    return false;
}
