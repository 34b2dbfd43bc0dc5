#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

int OpenOutput(const std::string& path) {
    const int fd = path.empty() ? ::open("/dev/null", O_WRONLY | O_CLOEXEC)
                                : ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throw std::runtime_error("cannot open " + (path.empty() ? "/dev/null" : path));
    return fd;
}

int StatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args)
    : ChildProcess(program, args, Options{}) {}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const Options& options) {
    // Everything the child needs is made here: between fork and exec only the hook allocates.
    std::vector<std::string> arguments{program};
    arguments.insert(arguments.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = OpenOutput(options.stdoutFile);
    int err = -1;
    try {
        err = OpenOutput(options.stderrFile);
    } catch (...) {
        ::close(in);
        ::close(out);
        throw;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (options.inChild) options.inChild();
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in);
    ::close(out);
    ::close(err);
    if (pid_ < 0) throw std::runtime_error("cannot start " + program + ": fork failed");
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_), status_(other.status_) {
    other.pid_ = -1;
}

ChildProcess::~ChildProcess() {
    Stop();
}

int ChildProcess::Wait() {
    if (status_ >= 0 || pid_ <= 0) return status_;
    int waitStatus = 0;
    while (::waitpid(pid_, &waitStatus, 0) < 0) {
        if (errno != EINTR) return status_;
    }
    status_ = StatusOf(waitStatus);
    return status_;
}

void ChildProcess::Signal(int signal) {
    if (status_ < 0 && pid_ > 0) ::kill(pid_, signal);
}

int ChildProcess::Stop() {
    if (status_ >= 0 || pid_ <= 0) return status_;
    ::kill(pid_, SIGTERM);
    // A program that ignores SIGTERM is killed rather than left behind.
    for (int i = 0; i < 200; ++i) {
        int waitStatus = 0;
        if (::waitpid(pid_, &waitStatus, WNOHANG) == pid_) {
            status_ = StatusOf(waitStatus);
            return status_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid_, SIGKILL);
    return Wait();
}
