#include "cli/unattended_commands.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "cli/archive_commands.h"
#include "cli/exit_status.h"
#include "cli/terminal_progress.h"
#include "jobs/run_report.h"
#include "platform/backup_schedule.h"
#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/text_format.h"

namespace {

struct UserRun {
    std::string user;
    JobOutcome outcome;
    std::string text;
};

// The outcomes in the order the closing line counts them, with their words.
const std::pair<JobOutcome, const char*> kOutcomeWords[] = {{JobOutcome::Done, "完成"},
                                                            {JobOutcome::DonePicturesFailed, "部分图片失败"},
                                                            {JobOutcome::DoneWithProblems, "有问题"},
                                                            {JobOutcome::Failed, "失败"},
                                                            {JobOutcome::FolderBusy, "跳过"},
                                                            {JobOutcome::Interrupted, "已中断"}};

std::string OutcomeWord(JobOutcome outcome) {
    for (const auto& [known, word] : kOutcomeWords)
        if (known == outcome) return Utf8ToGbk(word);
    return "";
}

// How bad an exit status is: 0 < 3 < 1 < 130.
int Severity(int status) {
    switch (status) {
        case kExitOk:
            return 0;
        case kExitSomePicturesFailed:
            return 1;
        case kExitInterrupted:
            return 3;
    }
    return 2;
}

void PrintGbk(FILE* out, const std::string& gbk) {
    std::fprintf(out, "%s\n", ForTerminal(gbk).c_str());
}

int CountOf(const std::vector<UserRun>& runs, JobOutcome outcome) {
    int count = 0;
    for (const UserRun& run : runs) count += run.outcome == outcome ? 1 : 0;
    return count;
}

void PrintJson(const nlohmann::ordered_json& object) {
    std::printf("%s\n", object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

// A failure of what the run leaves behind: told on stderr and kept in backup.log.
void Report(const AppSettings& settings, const char* what, const std::string& failure) {
    PrintGbk(stderr, failure);
    const std::string logFailure = AppendBackupLog(settings.outputPath, BackupLogLine("-", what, failure));
    if (!logFailure.empty()) PrintGbk(stderr, logFailure);
}

// The word for whoever did not watch: a notification when the run did not end well, then notify_url.
void TellAfterRun(const AppSettings& settings, int exitStatus, const std::string& failureText) {
    if (exitStatus != kExitOk) {
        const std::string failure = NotifyDesktop(GBK("Zorbi浏览器：备份未完成"), failureText);
        if (!failure.empty()) Report(settings, "notification failed", failure);
    }
    if (settings.notifyUrl.empty()) return;
    TerminalProgress silent(stderr, true);
    const std::string failure = PingNotifyUrl(settings, exitStatus == kExitOk, silent);
    if (!failure.empty()) Report(settings, "notify_url failed", failure);
}

// Appends one user's run to backup.log; a failure to write it is told on stderr.
void LogUserRun(const AppSettings& settings, const std::string& user, JobOutcome outcome,
                const std::string& text) {
    const std::string failure =
        AppendBackupLog(settings.outputPath, BackupLogLine(user, OutcomeKey(outcome), text));
    if (!failure.empty()) PrintGbk(stderr, failure);
}

}  // namespace

int AllUsersCommand(const AppSettings& settings, const std::string& loadFailure, bool quiet, bool json,
                    const UserJob& job) {
    // A list that could not be read is no list to back up: an empty one would pass for a good run.
    if (!loadFailure.empty()) {
        TellAfterRun(settings, kExitFailed, loadFailure);
        return kExitFailed;
    }
    std::vector<UserRun> runs;
    int worst = kExitOk;
    for (int n = 0; n < settings.userCount; ++n) {
        const std::string& user = settings.userNames[n];
        TerminalProgress progress(stderr, quiet);
        const JobOutcome outcome = job(user, progress);
        runs.push_back({user, outcome, progress.resultText});
        LogUserRun(settings, user, outcome, progress.resultText);
        const int status = ExitStatus(outcome);
        if (json) {
            nlohmann::ordered_json object = StatusJsonOf(settings, user);
            object["run"] = {{"outcome", OutcomeKey(outcome)},
                             {"exit_status", status},
                             {"text", GbkToUtf8(progress.resultText)}};
            PrintJson(object);
        } else {
            PrintGbk(stdout, user + GBK("（") + OutcomeWord(outcome) + GBK("）：") + progress.resultText);
        }
        std::fflush(stdout);
        if (Severity(status) > Severity(worst)) worst = status;
        if (outcome == JobOutcome::Interrupted) break;
    }

    if (json) {
        nlohmann::ordered_json total = {{"users", runs.size()}, {"exit_status", worst}};
        for (const auto& [outcome, word] : kOutcomeWords) {
            std::string key = OutcomeKey(outcome);
            std::replace(key.begin(), key.end(), ' ', '_');
            total[key] = CountOf(runs, outcome);
        }
        PrintJson({{"total", total}});
    } else if (runs.empty()) {
        PrintGbk(stdout, GBK("用户列表中没有用户。"));
    } else {
        std::string counts;
        for (const auto& [outcome, word] : kOutcomeWords) {
            const int count = CountOf(runs, outcome);
            if (count == 0) continue;
            if (!counts.empty()) counts += GBK("，");
            counts += Utf8ToGbk(word) + Format("%d", count) + GBK("个");
        }
        PrintGbk(stdout,
                 Format(GBK("共%d个用户：").c_str(), static_cast<int>(runs.size())) + counts + GBK("。"));
    }
    std::fflush(stdout);

    std::string failureText;
    for (const UserRun& run : runs) {
        if (ExitStatus(run.outcome) == kExitOk) continue;
        failureText = run.user + GBK("：") + run.text;
        break;
    }
    TellAfterRun(settings, worst, failureText);
    return worst;
}

int ScheduleCommand(const std::string& action) {
    ScheduleState state;
    if (action != "status") {
        const std::string failure = SetSchedule(action == "on", OsCurrentDirectory());
        if (!failure.empty()) {
            PrintGbk(stdout, failure);
            return kExitFailed;
        }
    }
    const std::string failure = QuerySchedule(state);
    if (!failure.empty()) {
        PrintGbk(stdout, failure);
        return kExitFailed;
    }
    PrintGbk(stdout, state.enabled ? GBK("每天自动备份：已开启") : GBK("每天自动备份：未开启"));
    if (state.enabled && !state.folder.empty())
        PrintGbk(stdout, GBK("备份的文件夹：") + Utf8ToGbk(state.folder));
    if (state.enabled && !state.nextRun.empty())
        PrintGbk(stdout, GBK("下次运行：") + Utf8ToGbk(state.nextRun));
    return kExitOk;
}
