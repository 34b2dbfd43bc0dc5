#pragma once
// The commands on the ledgers of the backups: verify (and repair), status and search. Each returns the
// exit status; texts given are UTF-8 as typed.
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "catalogue/app_settings.h"
#include "jobs/job_progress.h"

// Checks USER's backup (and repairs it), printing one line per problem, then the job's final text.
int VerifyCommand(const AppSettings& settings, const std::string& user, bool repair, JobProgress& progress);

// Prints what USER's ledger says: for people, or as one JSON object.
int StatusCommand(const AppSettings& settings, const std::string& user, bool json);

// USER's (GBK) ledger as `status --json` prints it; a user without a readable ledger gets the same
// fields, empty.
nlohmann::ordered_json StatusJsonOf(const AppSettings& settings, const std::string& gbkUser);

// Prints the photos whose title or description holds the text, in every user's ledger or in USER's.
int SearchCommand(const AppSettings& settings, const std::string& text,
                  const std::optional<std::string>& user);
