#include "ui/shell_open.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QUrl>

#include "platform/file_util.h"
#include "ui/message_box.h"

void ShellOpenFile(const std::string& gbkPath, QWidget* owner) {
    // Absolute, as a handler started elsewhere needs it, and from the path's own bytes: the program's
    // folder may hold any.
    const QByteArray path = QByteArray::fromStdString(AbsoluteOsPath(gbkPath));
    ShellOpenUrl(QUrl::fromEncoded("file://" + path.toPercentEncoding("/"), QUrl::StrictMode), owner);
}

void ShellOpenUrl(const QUrl& url, QWidget* owner) {
    // Told only once xdg-open has ended: starting it says nothing about a handler.
    QObject* context = owner ? static_cast<QObject*>(owner) : QCoreApplication::instance();
    ShellOpenUrlReported(url, context, [url, owner = QPointer<QWidget>(owner)](int status) {
        if (status == 0) return;
        const QString name = url.isLocalFile() ? url.toLocalFile() : url.toString();
        ShowMessage(owner,
                    QStringLiteral("无法打开%1\n没有找到能打开它的程序，或者程序没能打开它。").arg(name),
                    QString(), QMessageBox::Warning);
    });
}

void ShellOpenUrlReported(const QUrl& url, QObject* context, std::function<void(int status)> done) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (program.isEmpty()) {
        // Told from the event loop, as a status from a process would be.
        QMetaObject::invokeMethod(
            context, [done] { done(kShellOpenNotRun); }, Qt::QueuedConnection);
        return;
    }
    // xdg-open may wait for the program it starts, so it is not waited for, and it is not owned by the
    // context: closing the window that asked must not kill it.
    auto* process = new QProcess();
    process->setProgram(program);
    process->setArguments({url.toString(QUrl::FullyEncoded)});
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, context,
                     [done](int exitCode, QProcess::ExitStatus exitStatus) {
                         done(exitStatus == QProcess::NormalExit ? exitCode : 255);
                     });
    QObject::connect(process, &QProcess::errorOccurred, context, [done](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) done(kShellOpenNotRun);
    });
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    QObject::connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) process->deleteLater();
    });
    process->start();
}
