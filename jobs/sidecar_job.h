#pragma once
// Writes the XMP sidecars of a user's stored pictures from the ledger, without the network.
#include <string>

#include "catalogue/app_settings.h"
#include "jobs/job_progress.h"
#include "jobs/update_albums.h"

// Holds the user folder's lock like every job; sets the final text and closes the progress.
JobOutcome WriteSidecarsOfUser(const AppSettings& settings, const std::string& user, JobProgress& progress);
