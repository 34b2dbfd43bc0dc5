#include "jobs/run_report.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "net/http_downloader.h"
#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/run_program.h"
#include "platform/text_format.h"

namespace {

std::string WriteFailedText(const std::string& path, int error) {
    return Format(GBK("无法写入文件：%s（%s）").c_str(), path.c_str(), SystemErrorText(error).c_str());
}

// A field of a log line: no tab or line break of its own.
std::string Field(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    return text;
}

// A text as a notification's body, which the service may read as markup.
std::string MarkupEscaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '&')
            escaped += "&amp;";
        else if (c == '<')
            escaped += "&lt;";
        else if (c == '>')
            escaped += "&gt;";
        else
            escaped += c;
    }
    return escaped;
}

// The log, opened for appending and locked; -1 with errno set when it cannot be. A run that trimmed
// it meanwhile has put a new file at the path: that one is taken instead.
int OpenLockedLog(const std::string& osPath) {
    for (;;) {
        const int fd = ::open(osPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) return -1;
        int locked = 0;
        while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        struct stat held {
        }, named{};
        if (locked != 0 || ::fstat(fd, &held) != 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        if (::stat(osPath.c_str(), &named) == 0 && held.st_ino == named.st_ino && held.st_dev == named.st_dev)
            return fd;
        ::close(fd);
    }
}

}  // namespace

const char* OutcomeKey(JobOutcome outcome) {
    // A busy folder ran nothing, so the ledger never records it; the report names it.
    return outcome == JobOutcome::FolderBusy ? "busy" : OutcomeName(outcome);
}

std::string BackupLogLine(const std::string& user, const std::string& outcome, const std::string& text) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char time[40];
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S%z", &local);
    return std::string(time) + "\t" + Field(GbkToUtf8(user)) + "\t" + outcome + "\t" +
           Field(GbkToUtf8(text)) + "\n";
}

std::string AppendBackupLog(const std::string& outputPath, const std::string& lines) {
    const std::string path = JoinPath(outputPath, "backup.log");
    MakeDirectories(outputPath);
    const int fd = OpenLockedLog(ToOsPath(path));
    if (fd < 0) return WriteFailedText(path, errno);
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    if (ok && info.st_size + static_cast<long>(lines.size()) <= kBackupLogLimit) {
        ok = WriteAll(fd, lines);
    } else if (ok) {
        // Rewritten whole, under the lock, so that a reader never finds it cut in the middle of a line.
        std::string text;
        ok = ReadWholeFile(path, text);
        text += lines;
        size_t start = 0;
        if (text.size() > static_cast<size_t>(kBackupLogLimit)) {
            start = text.find('\n', text.size() - kBackupLogLimit - 1);
            start = start == std::string::npos ? text.size() : start + 1;
        }
        ok = ok && WriteFileAtomic(path, std::string_view(text).substr(start), 0600);
    }
    const int error = errno;
    ::close(fd);
    return ok ? std::string() : WriteFailedText(path, error);
}

std::string NotifyDesktop(const std::string& summary, const std::string& body) {
    const ProgramRun run =
        RunProgram({"notify-send", "--app-name=" + GbkToUtf8(GBK("Zorbi浏览器")), "--icon=albumbrowser", "--",
                    GbkToUtf8(summary), MarkupEscaped(GbkToUtf8(body))});
    if (!run.started && run.error == ENOENT)
        return GBK("找不到notify-send（Debian的libnotify-bin），无法显示桌面通知。");
    if (!run.started)
        return Format(GBK("无法运行notify-send（%s）。").c_str(), SystemErrorText(run.error).c_str());
    if (run.status != 0) {
        const std::string line = run.output.substr(0, run.output.find('\n'));
        return Format(GBK("无法显示桌面通知（%s）。").c_str(), Utf8ToGbk(line).c_str());
    }
    return "";
}

std::string PingNotifyUrl(const AppSettings& settings, bool success, JobProgress& progress) {
    std::string url = settings.notifyUrl;
    if (!success) {
        while (!url.empty() && url.back() == '/') url.pop_back();
        url += "/fail";
    }
    HttpDownloader downloader;
    ConfigureDownloader(downloader, settings, progress);
    const HttpDownloader::Result result = downloader.Fetch(url);
    switch (result.outcome) {
        case HttpDownloader::Result::Received:
            return "";
        case HttpDownloader::Result::HttpError:
            return Format(GBK("通知地址%s返回错误（HTTP %d）。").c_str(), url.c_str(),
                          static_cast<int>(result.status));
        case HttpDownloader::Result::Interrupted:
            return Format(GBK("通知地址%s：已中断。").c_str(), url.c_str());
        case HttpDownloader::Result::NetworkError:
            break;
    }
    return Format(GBK("无法访问通知地址%s，请检查网络和代理。").c_str(), url.c_str());
}
