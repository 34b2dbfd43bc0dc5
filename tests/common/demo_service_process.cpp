#include "demo_service_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

constexpr const char* kListening = "listening on http://127.0.0.1:";

std::string TemporaryLogPath() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zorbi-demo-service-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("cannot create the demo service's log file");
    ::close(fd);
    return pattern;
}

int StatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

// Reads the first line the child writes, giving up when it closes its end or after `limit`.
std::string ReadFirstLine(int fd, std::chrono::seconds limit) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buffer[256];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        line.append(buffer, static_cast<size_t>(got));
    }
    return line.substr(0, line.find('\n'));
}

}  // namespace

DemoServiceProcess::DemoServiceProcess(std::vector<std::string> switches) : logPath_(TemporaryLogPath()) {
    std::vector<std::string> arguments{DEMO_SERVICE_PATH, "--port", "0"};
    arguments.insert(arguments.end(), switches.begin(), switches.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const int logFd = ::open(logPath_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(nullFd, 0);
        ::dup2(out[1], 1);
        ::dup2(logFd, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(logFd);
    ::close(nullFd);
    if (pid_ < 0) {
        ::close(out[0]);
        throw std::runtime_error("fork failed");
    }

    const std::string line = ReadFirstLine(out[0], std::chrono::seconds(30));
    ::close(out[0]);
    if (line.rfind(kListening, 0) == 0)
        port_ = std::atoi(line.c_str() + std::char_traits<char>::length(kListening));
    if (port_ <= 0) {
        Stop();
        throw std::runtime_error("zorbi-demo-service did not start: \"" + line + "\"\n" + log());
    }
}

DemoServiceProcess::~DemoServiceProcess() {
    Stop();
    ::unlink(logPath_.c_str());
}

std::string DemoServiceProcess::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string DemoServiceProcess::log() const {
    std::ifstream file(logPath_);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

int DemoServiceProcess::Stop() {
    if (pid_ <= 0) return exitStatus_;
    ::kill(pid_, SIGTERM);
    int waitStatus = 0;
    // A service that ignores SIGTERM is killed rather than left behind.
    for (int i = 0; i < 200; ++i) {
        const pid_t done = ::waitpid(pid_, &waitStatus, WNOHANG);
        if (done == pid_) {
            exitStatus_ = StatusOf(waitStatus);
            pid_ = -1;
            return exitStatus_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    exitStatus_ = StatusOf(waitStatus);
    pid_ = -1;
    return exitStatus_;
}
