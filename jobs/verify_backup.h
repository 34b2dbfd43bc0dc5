#pragma once
// Proving a backup: every picture the ledger records is hashed and checked against its record and its
// format, every cached answer is read, and on request each damaged or missing file is fetched again as
// an update fetches it.
#include <string>
#include <vector>

#include "catalogue/app_settings.h"
#include "catalogue/zorbi_service.h"
#include "jobs/job_progress.h"
#include "jobs/update_albums.h"

struct VerifyContext {
    const AppSettings& settings;
    const ZorbiService& service;
    JobProgress& progress;
    std::string selectedUser;  // the user list's entry (GBK): the user folder's name
    bool repair = false;
    int startPauseMs = 100;  // the pause before the first report
};

// A file of the backup that is not as it should be.
struct VerifyProblem {
    enum Kind { Missing, Changed, Incomplete, Unreadable };
    Kind kind = Missing;
    std::string file;  // relative to the user folder, such as "pictures/big/ID.jpg"
    bool repaired = false;
    std::string reason;  // GBK: why a repair failed
};

struct VerifyResult {
    JobOutcome outcome = JobOutcome::Failed;  // DoneWithProblems while any problem is not repaired
    std::vector<VerifyProblem> problems;      // in the order found
};

// Runs the check (and with `repair` the repair) holding the user folder's lock throughout, records the
// run in the ledger, sets the final text, then closes the progress. Pictures on disk that the ledger
// does not know yet are recorded and count as good.
VerifyResult VerifyBackup(const VerifyContext& context);

// "missing", "changed", "incomplete", "unreadable".
const char* ProblemKindName(VerifyProblem::Kind kind);
