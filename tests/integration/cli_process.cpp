#include "cli_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

CliProcess::CliProcess(const std::filesystem::path& folder, const std::string& endpoint,
                       std::vector<std::string> args, const std::function<void()>& inChild,
                       std::filesystem::path outputs) {
    static int runs = 0;
    ++runs;  // files of their own: an earlier run's output must not be taken for this one's
    if (outputs.empty()) outputs = folder;
    out_ = outputs / (".cli-stdout-" + std::to_string(getpid()) + "-" + std::to_string(runs));
    err_ = outputs / (".cli-stderr-" + std::to_string(getpid()) + "-" + std::to_string(runs));
    pid_ = fork();
    if (pid_ != 0) return;
    const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(out, 1);
    dup2(err, 2);
    if (inChild) inChild();
    if (chdir(folder.c_str()) != 0) _exit(127);
    setenv("ZORBI_ENDPOINT", endpoint.c_str(), 1);
    setenv("ZORBI_PICTURE_HOST", endpoint.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(CLI_PATH)};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(CLI_PATH, argv.data());
    _exit(127);
}

int CliProcess::Wait() {
    if (status_ >= 0 || pid_ <= 0) return status_;
    int status = 0;
    waitpid(pid_, &status, 0);
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
}

void CliProcess::Signal(int signal) {
    kill(pid_, signal);
}

std::string CliProcess::Stdout() const {
    return ReadText(out_);
}

std::string CliProcess::Stderr() const {
    return ReadText(err_);
}

CliResult RunCli(const std::filesystem::path& folder, const std::string& endpoint,
                 std::vector<std::string> args, const std::function<void()>& inChild) {
    CliProcess cli(folder, endpoint, std::move(args), inChild);
    const int status = cli.Wait();
    return {status, cli.Stdout(), cli.Stderr()};
}
