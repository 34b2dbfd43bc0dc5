#include "ui/shell_open.h"

#include <QDesktopServices>
#include <QMetaObject>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QUrl>

#include "platform/file_util.h"

void ShellOpenFile(const std::string& gbkPath) {
    ShellOpenUrl(QUrl::fromLocalFile(QString::fromStdString(ToOsPath(gbkPath))));
}

bool ShellOpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
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
