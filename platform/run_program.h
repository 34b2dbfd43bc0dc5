#pragma once
// Runs another program with its arguments, no shell between, and reads how it ended: for the system's
// own tools (systemctl, notify-send).
#include <string>
#include <vector>

struct ProgramRun {
    bool started = false;  // false: the program could not be run (`error` says why, ENOENT: not found)
    int error = 0;
    int status = -1;     // its exit status, or 128 + the signal that ended it
    std::string output;  // what it wrote on stdout and stderr, in the order written
};

// Runs args[0], looked up on PATH, with stdin from /dev/null, and waits for it to end.
ProgramRun RunProgram(const std::vector<std::string>& args);
