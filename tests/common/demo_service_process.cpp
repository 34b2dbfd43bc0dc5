#include "demo_service_process.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "test_files.h"

namespace {

constexpr const char* kListening = "listening on http://127.0.0.1:";

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

DemoServiceProcess::DemoServiceProcess(std::vector<std::string> switches) {
    std::vector<std::string> arguments{"--port", "0"};
    arguments.insert(arguments.end(), switches.begin(), switches.end());
    // The port comes on the first line of stdout, read through a pipe.
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    ChildProcess::Options options;
    options.stderrFile = folder_ / "requests.log";
    options.inChild = [writeEnd = out[1]] { ::dup2(writeEnd, 1); };
    try {
        process_.emplace(DEMO_SERVICE_PATH, arguments, options);
    } catch (...) {
        ::close(out[0]);
        ::close(out[1]);
        throw;
    }
    ::close(out[1]);
    const std::string line = ReadFirstLine(out[0], std::chrono::seconds(30));
    ::close(out[0]);
    if (line.rfind(kListening, 0) == 0)
        port_ = std::atoi(line.c_str() + std::char_traits<char>::length(kListening));
    if (port_ <= 0) {
        Stop();
        throw std::runtime_error("zorbi-demo-service did not start: \"" + line + "\"\n" + log());
    }
}

std::string DemoServiceProcess::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string DemoServiceProcess::log() const {
    return ReadFile(folder_ / "requests.log");
}

int DemoServiceProcess::Stop() {
    return process_->Stop();
}
