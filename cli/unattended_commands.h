#pragma once
// The commands for backups that run themselves: `update --all` and `verify --all`, the unattended runs
// (the daily timer, a cron line), which take every user of config.ini in list order, one after another,
// each under its own lock, and leave a word for whoever did not watch; and `schedule`, which switches
// the daily timer.
#include <functional>
#include <string>

#include "catalogue/app_settings.h"
#include "jobs/job_progress.h"
#include "jobs/update_albums.h"

// The job of the run for one user (GBK), reporting to the progress.
using UserJob = std::function<JobOutcome(const std::string& user, JobProgress& progress)>;

// Runs the job for every user, printing one line per user and a closing line (with `json`, one JSON
// object per user and one for the total), each user's line in backup.log too. After a run that did not
// end with 0 it shows a desktop notification; then it requests notify_url. `loadFailure`: what loading
// config.ini said; the run does not start on such a list. Returns the worst of the users' exit statuses
// (0 < 3 < 1); an interrupted user ends the run at once, with 130.
int AllUsersCommand(const AppSettings& settings, const std::string& loadFailure, bool quiet, bool json,
                    const UserJob& job);

// `schedule on`, `off` or `status`: the daily timer of the user's systemd, for the program's folder
// (the current directory). Prints what it did or why not; returns the exit status.
int ScheduleCommand(const std::string& action);
