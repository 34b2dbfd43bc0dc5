#pragma once
// The exit statuses of albumbrowser-cli, and a job's outcome as one.
#include "jobs/update_albums.h"

constexpr int kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitSomePicturesFailed = 3,
              kExitInterrupted = 130;

inline int ExitStatus(JobOutcome outcome) {
    switch (outcome) {
        case JobOutcome::Done:
            return kExitOk;
        case JobOutcome::DonePicturesFailed:
        case JobOutcome::DoneWithProblems:
            return kExitSomePicturesFailed;
        case JobOutcome::Interrupted:
            return kExitInterrupted;
        case JobOutcome::Failed:
        case JobOutcome::FolderBusy:
            break;
    }
    return kExitFailed;
}
