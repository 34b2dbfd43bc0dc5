#pragma once
// What a backup run leaves for whoever did not watch it: a line per user in OUTPUT/backup.log, a
// desktop notification, and a request to the monitoring address of the notify_url setting. Texts are
// GBK; each operation returns an empty text, or why it could not be done.
#include <string>

#include "catalogue/app_settings.h"
#include "jobs/job_progress.h"
#include "jobs/update_albums.h"

// backup.log is kept at most this long: the oldest lines go first.
constexpr long kBackupLogLimit = 1L << 20;

// "done", "pictures failed", "problems", "failed", "busy" or "interrupted".
const char* OutcomeKey(JobOutcome outcome);

// One line of backup.log, in UTF-8: the local time, the user, the outcome and the text, tab-separated.
std::string BackupLogLine(const std::string& user, const std::string& outcome, const std::string& text);

// Appends the lines to OUTPUT/backup.log (made when missing, mode 0600); when that would pass
// kBackupLogLimit, the oldest lines are dropped and the file is replaced whole. Runs that append at the
// same time wait for each other.
std::string AppendBackupLog(const std::string& outputPath, const std::string& lines);

// Shows a desktop notification through the freedesktop notification service (notify-send).
std::string NotifyDesktop(const std::string& summary, const std::string& body);

// Requests the notify_url setting: the address itself after a run that ended well, with "/fail"
// appended otherwise, through the fetch engine with the settings' proxy and retries.
std::string PingNotifyUrl(const AppSettings& settings, bool success, JobProgress& progress);
