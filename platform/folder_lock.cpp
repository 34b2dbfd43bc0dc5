#include "platform/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/text_format.h"

namespace {

// The pid a lock file names; 0 when it names none.
int PidIn(int fd) {
    char text[16] = {};
    if (::pread(fd, text, sizeof text - 1, 0) <= 0) return 0;
    const long pid = std::strtol(text, nullptr, 10);
    return pid > 0 && pid < (1L << 30) ? static_cast<int>(pid) : 0;
}

}  // namespace

FolderLock::FolderLock(const std::string& folder) : path_(JoinPath(folder, ".lock")) {
    // Not through a link, and never waiting on something that is no file; not inherited by children.
    const int fd =
        ::open(ToOsPath(path_).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        error_ = errno;
        return;
    }
    // A holder writes its pid just after it takes the lock and empties the file just before it lets the
    // lock go: a file that names nobody is looked at again for a moment.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (::ftruncate(fd, 0) == 0) WriteAll(fd, std::to_string(::getpid()) + "\n");
            fd_ = fd;
            return;
        }
        if (errno != EWOULDBLOCK) {
            error_ = errno;
            ::close(fd);
            return;
        }
        holderPid_ = PidIn(fd);
        if (holderPid_ > 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    busy_ = true;
    ::close(fd);
}

FolderLock::~FolderLock() {
    if (fd_ < 0) return;
    if (::ftruncate(fd_, 0) != 0) {
        // A pid left behind names a process that no longer holds the lock; flock alone decides.
    }
    ::close(fd_);
}

std::string FolderLock::FailureText() const {
    if (held()) return "";
    if (busy_) return Format(GBK("此用户正在被另一个任务更新（进程%d），请稍后再试。").c_str(), holderPid_);
    return WriteFailedText(path_, error_);
}
