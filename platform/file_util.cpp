#include "platform/file_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/codepage.h"
#include "platform/text_format.h"

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    path += kPathSeparator;
    path += name;
    return path;
}

std::string BaseName(std::string_view path) {
    const size_t slash = path.rfind(kPathSeparator);
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ToOsPath(std::string_view gbkPath) {
    return GbkToUtf8(gbkPath);
}

std::string OsCurrentDirectory() {
    std::error_code error;
    const std::filesystem::path cwd = std::filesystem::current_path(error);
    return error ? std::string() : cwd.string();
}

std::string CurrentDirectory() {
    const std::string os = OsCurrentDirectory();
    const std::string gbk = Utf8ToGbk(os);
    return !os.empty() && ToOsPath(gbk) == os ? gbk : ".";
}

std::string AbsoluteOsPath(std::string_view gbkPath) {
    std::string_view rest = gbkPath;
    while (rest.starts_with("./")) rest.remove_prefix(2);
    if (rest == ".") rest = {};
    if (rest.starts_with(kPathSeparator)) return ToOsPath(rest);
    std::string path = OsCurrentDirectory();
    if (path.empty()) return ToOsPath(gbkPath);  // no folder to go by: left as it was
    if (!rest.empty()) {
        if (path.back() != kPathSeparator) path += kPathSeparator;
        path += ToOsPath(rest);
    }
    return path;
}

bool FileExists(std::string_view path) {
    const int fd = ::open(ToOsPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

void MakeDirectory(std::string_view path) {
    ::mkdir(ToOsPath(path).c_str(), kNewFolderMode);
}

bool MakeDirectories(std::string_view path) {
    return MakeOsDirectories(ToOsPath(path));
}

bool MakeOsDirectories(std::string_view path) {
    const std::string osPath(path);
    struct stat info {};
    if (::stat(osPath.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return true;
        errno = ENOTDIR;
        return false;
    }
    // The parent first ("/" is never part of a multibyte UTF-8 character, so the bytes can be searched).
    const size_t end = path.find_last_not_of(kPathSeparator);
    const size_t slash = end == std::string_view::npos ? end : path.rfind(kPathSeparator, end);
    if (slash != std::string_view::npos && slash > 0 && !MakeOsDirectories(path.substr(0, slash)))
        return false;
    if (::mkdir(osPath.c_str(), kNewFolderMode) == 0) return true;
    if (errno != EEXIST) return false;
    if (::stat(osPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
    errno = ENOTDIR;
    return false;
}

namespace {

// Reads from the descriptor to its end; false, with errno saying why, when a read fails.
bool ReadAll(int fd, std::string& contents) {
    contents.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        contents.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace

bool ReadWholeFile(std::string_view path, std::string& contents) {
    const int fd = ::open(ToOsPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ReadAll(fd, contents);
    const int error = errno;
    ::close(fd);
    errno = error;
    return ok;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

namespace {

constexpr char kTemporaryMark[] = ".tmp-";

// The process id in a temporary file's name "NAME.tmp-PID-N", or 0 when the name is not of that form.
pid_t TemporaryFileOwner(const std::string& name) {
    const size_t mark = name.rfind(kTemporaryMark);
    if (mark == std::string::npos) return 0;
    const std::string rest = name.substr(mark + sizeof kTemporaryMark - 1);
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || dash + 1 == rest.size()) return 0;
    if (rest.find_first_not_of("0123456789-") != std::string::npos ||
        rest.find('-', dash + 1) != std::string::npos) {
        return 0;
    }
    return static_cast<pid_t>(std::strtol(rest.c_str(), nullptr, 10));
}

}  // namespace

std::string WriteFailedText(std::string_view path, int error) {
    return Format(GBK("无法写入文件：%s（%s）").c_str(), std::string(path).c_str(),
                  SystemErrorText(error).c_str());
}

void RemoveStaleTemporaryFiles(std::string_view folder) {
    const std::string path = ToOsPath(folder);
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        if (!std::strstr(entry->d_name, kTemporaryMark)) continue;  // most names: no further look
        const pid_t owner = TemporaryFileOwner(entry->d_name);
        if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH) ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

namespace {

// The process's umask as /proc tells it, or -1 when it cannot be read (umask() itself would change it
// for every thread for a moment).
int CurrentUmask() {
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    std::string status;
    const bool ok = ReadAll(fd, status);
    ::close(fd);
    const size_t at = status.find("\nUmask:");
    if (!ok || at == std::string::npos) return -1;
    return static_cast<int>(std::strtol(status.c_str() + at + 8, nullptr, 8));
}

// True when the path is a regular file (not a link) that holds exactly `contents` with exactly the
// mode a new file would get.
bool AlreadyHolds(const std::string& target, std::string_view contents, mode_t mode) {
    const int fd = ::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool same = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                static_cast<size_t>(info.st_size) == contents.size();
    if (same) {
        const int mask = CurrentUmask();
        same = mask >= 0 && (info.st_mode & 07777) == (mode & ~static_cast<mode_t>(mask));
    }
    std::string current;
    same = same && ReadAll(fd, current) && current == contents;
    ::close(fd);
    return same;
}

}  // namespace

bool WriteFileAtomic(std::string_view path, std::string_view contents, mode_t newFileMode, bool* written) {
    return WriteOsFileAtomic(ToOsPath(path), contents, newFileMode, written);
}

bool WriteOsFileAtomic(const std::string& target, std::string_view contents, mode_t newFileMode,
                       bool* written) {
    static std::atomic<unsigned> counter{0};
    // Permission bits only: a set-id or sticky bit is never given to a file of ours.
    const mode_t mode = newFileMode & 0777;
    // A file that already holds these bytes stays as it is: creating a file is far dearer than reading one.
    if (written) *written = false;
    if (AlreadyHolds(target, contents, mode)) return true;

    std::string temporary;
    int fd = -1;
    // A name left by a killed process with a reused id is skipped, not fatal.
    for (int attempt = 0; fd < 0 && attempt < 8; ++attempt) {
        temporary =
            target + kTemporaryMark + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = WriteAll(fd, contents);
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    // rename replaces a link at the path itself, never the file it points to.
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        errno = error;
    } else if (written) {
        *written = true;
    }
    return ok;
}
