#include "cli_process.h"

#include <stdlib.h>
#include <unistd.h>

#include "test_files.h"

namespace {

// Files of this run's own: an earlier run's output must not be taken for this one's.
std::filesystem::path OutputFile(const std::filesystem::path& folder, const char* stream) {
    static int runs = 0;
    return folder /
           (".cli-" + std::string(stream) + "-" + std::to_string(getpid()) + "-" + std::to_string(++runs));
}

}  // namespace

CliProcess::CliProcess(const std::filesystem::path& folder, const std::string& endpoint,
                       std::vector<std::string> args, const std::function<void()>& inChild,
                       std::filesystem::path outputs)
    : out_(OutputFile(outputs.empty() ? folder : outputs, "stdout")),
      err_(OutputFile(outputs.empty() ? folder : outputs, "stderr")),
      process_(CLI_PATH, args, {.stdoutFile = out_, .stderrFile = err_, .inChild = [&] {
                                    if (inChild) inChild();
                                    if (chdir(folder.c_str()) != 0) _exit(127);
                                    setenv("ZORBI_ENDPOINT", endpoint.c_str(), 1);
                                    setenv("ZORBI_PICTURE_HOST", endpoint.c_str(), 1);
                                }}) {}

std::string CliProcess::Stdout() const {
    return ReadFile(out_);
}

std::string CliProcess::Stderr() const {
    return ReadFile(err_);
}

CliResult RunCli(const std::filesystem::path& folder, const std::string& endpoint,
                 std::vector<std::string> args, const std::function<void()>& inChild) {
    CliProcess cli(folder, endpoint, std::move(args), inChild);
    const int status = cli.Wait();
    return {status, cli.Stdout(), cli.Stderr()};
}
