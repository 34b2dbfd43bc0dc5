#include "platform/file_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/codepage.h"

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

std::string CurrentDirectory() {
    std::error_code error;
    const std::filesystem::path cwd = std::filesystem::current_path(error);
    return error ? std::string() : Utf8ToGbk(cwd.string());
}

bool FileExists(std::string_view path) {
    const int fd = ::open(ToOsPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

void MakeDirectory(std::string_view path) {
    ::mkdir(ToOsPath(path).c_str(), 0777);
}

bool ReadWholeFile(std::string_view path, std::string& contents) {
    FILE* file = std::fopen(ToOsPath(path).c_str(), "rb");
    if (!file) return false;
    contents.clear();
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) contents.append(buffer, n);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

namespace {

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

}  // namespace

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

bool WriteFileAtomic(std::string_view path, std::string_view contents, mode_t newFileMode) {
    static std::atomic<unsigned> counter{0};
    const std::string target = ToOsPath(path);
    const std::string temporary =
        target + kTemporaryMark + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    // A file that already holds these bytes stays as it is: creating a file is far dearer than reading one.
    if (exists && S_ISREG(existing.st_mode) && static_cast<size_t>(existing.st_size) == contents.size()) {
        std::string current;
        if (ReadWholeFile(path, current) && current == contents) return true;
    }
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newFileMode);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, contents);
    if (ok && exists) ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}
