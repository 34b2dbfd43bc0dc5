#pragma once
// Runs albumbrowser-cli as a user would: in a folder of its own, with the service's addresses set.
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class CliProcess {
  public:
    // Starts the tool. Its stdout and stderr go to files of this run's own in `outputs` (the folder when
    // empty); `inChild` runs in the child before the tool starts (limits, another user).
    CliProcess(const std::filesystem::path& folder, const std::string& endpoint,
               std::vector<std::string> args, const std::function<void()>& inChild = {},
               std::filesystem::path outputs = {});
    CliProcess(CliProcess&&) = default;

    // Waits for the end: the exit status, or 128 + the signal that ended it. Later calls return the same.
    int Wait();
    void Signal(int signal);
    std::string Stdout() const;
    std::string Stderr() const;

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::filesystem::path out_, err_;
};

struct CliResult {
    int status;  // exit status, or 128 + the signal
    std::string out, err;
};

// Runs the tool to its end.
CliResult RunCli(const std::filesystem::path& folder, const std::string& endpoint,
                 std::vector<std::string> args, const std::function<void()>& inChild = {});
