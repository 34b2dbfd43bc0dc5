#pragma once
// The daily backup through the user's systemd: the timer albumbrowser-backup.timer that the package
// installs, switched with `systemctl --user`. The program's folder the service backs up is named in a
// drop-in of the service beside the user's own units, so a folder other than the default one is
// backed up too. Texts are GBK.
#include <string>

struct ScheduleState {
    bool enabled = false;
    std::string nextRun;  // the next run as systemd writes it (local time); empty when none is due
    std::string folder;   // the folder the service runs in, as the system names it; empty: the default
};

// The unit names.
constexpr const char* kBackupTimer = "albumbrowser-backup.timer";
constexpr const char* kBackupService = "albumbrowser-backup.service";

// Reads the timer's state. Empty, or why it cannot be known: no systemctl, no user systemd, no timer.
std::string QuerySchedule(ScheduleState& state);

// Enables and starts the timer for the program's folder (an absolute path as the system names it), or
// stops and disables it. Empty, or why not.
std::string SetSchedule(bool on, const std::string& programFolder);

// The drop-in that names the folder: $XDG_CONFIG_HOME/systemd/user/albumbrowser-backup.service.d/...
std::string ScheduleDropInPath();
