#include "jobs/sidecar_job.h"

#include "archive/ledger.h"
#include "output/sidecars.h"
#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/folder_lock.h"
#include "platform/text_format.h"

namespace {

JobOutcome Run(const AppSettings& settings, const std::string& user, JobProgress& progress) {
    const std::string userFolder = UserFolder(settings, user);
    const std::string path = Ledger::PathFor(userFolder);
    // Only an update records pictures: without its ledger there is nothing to describe.
    if (!AppSettings::IsValidUserName(user) || !FileExists(path)) {
        progress.SetText(GBK("没有此用户的备份记录，请先联网更新相册。"));
        return JobOutcome::Failed;
    }
    const FolderLock lock(userFolder);
    if (!lock.held()) {
        progress.SetText(lock.FailureText());
        return lock.busy() ? JobOutcome::FolderBusy : JobOutcome::Failed;
    }
    std::string error;
    const std::unique_ptr<Ledger> ledger = Ledger::Open(path, &error, false);
    if (!ledger) {
        progress.SetText(error);
        return JobOutcome::Failed;
    }
    progress.SetText(GBK("正在写入XMP附属文件..."));
    const SidecarWrite sidecars = WriteSidecars(userFolder, user, *ledger);
    if (!sidecars.ok()) {
        progress.SetText(sidecars.failure);
        return JobOutcome::Failed;
    }
    progress.SetText(
        Format(GBK("XMP附属文件：新写入%d个，未变%d个。").c_str(), sidecars.written, sidecars.unchanged));
    return JobOutcome::Done;
}

}  // namespace

JobOutcome WriteSidecarsOfUser(const AppSettings& settings, const std::string& user, JobProgress& progress) {
    const JobOutcome outcome = Run(settings, user, progress);
    progress.Close();
    return outcome;
}
