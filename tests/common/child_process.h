#pragma once
// The tests' one runner of other programs: fork and exec with the arguments given, stdout and stderr
// to files (or /dev/null), stdin from /dev/null. A process still running when the object goes away
// is stopped, so no test leaves one behind.
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

class ChildProcess {
  public:
    struct Options {
        std::string stdoutFile;  // created or truncated; empty: /dev/null
        std::string stderrFile;
        // Runs in the child after the redirections, just before exec (a folder, limits, another user,
        // another descriptor). Exec does not happen when it calls _exit.
        std::function<void()> inChild;
    };

    // Starts `program` (a path) with `args`. Throws std::runtime_error when the outputs cannot be
    // opened or fork fails; a program that cannot be run exits with 127.
    ChildProcess(const std::string& program, const std::vector<std::string>& args, const Options& options);
    ChildProcess(const std::string& program, const std::vector<std::string>& args = {});
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t pid() const { return pid_; }
    // Waits for the end: the exit status, or 128 + the signal that ended it. Later calls return the same.
    int Wait();
    // Sends the signal while the process has not been waited for.
    void Signal(int signal);
    // SIGTERM, and SIGKILL for a process that is still there after a while; then as Wait.
    int Stop();

  private:
    pid_t pid_ = -1;
    int status_ = -1;
};
