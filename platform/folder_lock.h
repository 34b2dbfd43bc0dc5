#pragma once
// One job per folder: an exclusive flock on FOLDER/.lock, held from construction to destruction. The
// kernel drops it when its process ends, however it ends, so a killed holder never blocks anyone. The
// file (mode 0600) holds nothing but the holder's pid, for the message of a job turned away.
#include <string>

class FolderLock {
  public:
    // Tries to take the lock of an existing folder, without waiting for another holder.
    explicit FolderLock(const std::string& folder);
    ~FolderLock();  // releases the lock, emptying the file
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool held() const { return fd_ >= 0; }
    // Not held because another holder has it; holderPid() names it (0 when its file does not say).
    bool busy() const { return busy_; }
    int holderPid() const { return holderPid_; }
    // Not held and not busy: the errno of opening or locking the file.
    int error() const { return error_; }
    // FOLDER/.lock.
    const std::string& path() const { return path_; }
    // Why the lock is not held (GBK): another job's, naming its process, or the file's error; empty
    // while held.
    std::string FailureText() const;

  private:
    std::string path_;
    int fd_ = -1;
    bool busy_ = false;
    int holderPid_ = 0;
    int error_ = 0;
};
