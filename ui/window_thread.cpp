#include "ui/window_thread.h"

#include <QMetaObject>
#include <QThread>

void RunOnWindowThread(QObject* window, const std::function<void()>& work) {
    if (QThread::currentThread() == window->thread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(window, work, Qt::BlockingQueuedConnection);
}
