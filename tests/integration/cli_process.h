#pragma once
// Runs albumbrowser-cli as a user would: in a folder of its own, with the service's addresses set.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "child_process.h"

class CliProcess {
  public:
    // Starts the tool. Its stdout and stderr go to files of this run's own in `outputs` (the folder when
    // empty); `inChild` runs in the child before the tool starts (limits, another user).
    CliProcess(const std::filesystem::path& folder, const std::string& endpoint,
               std::vector<std::string> args, const std::function<void()>& inChild = {},
               std::filesystem::path outputs = {});
    CliProcess(CliProcess&&) = default;

    // Waits for the end: the exit status, or 128 + the signal that ended it. Later calls return the same.
    int Wait() { return process_.Wait(); }
    void Signal(int signal) { process_.Signal(signal); }
    std::string Stdout() const;
    std::string Stderr() const;

  private:
    std::filesystem::path out_, err_;
    ChildProcess process_;
};

struct CliResult {
    int status;  // exit status, or 128 + the signal
    std::string out, err;
};

// Runs the tool to its end.
CliResult RunCli(const std::filesystem::path& folder, const std::string& endpoint,
                 std::vector<std::string> args, const std::function<void()>& inChild = {});
