#include "cli/archive_commands.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "archive/ledger.h"
#include "catalogue/zorbi_service.h"
#include "cli/exit_status.h"
#include "cli/terminal_progress.h"
#include "jobs/picture_store.h"
#include "jobs/update_albums.h"
#include "jobs/verify_backup.h"
#include "output/link_format.h"
#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/text_format.h"

namespace {

const char* const kSizeKeys[SizeCount] = {"small", "medium", "big", "large"};

void PrintGbk(FILE* out, const std::string& gbk) {
    std::fprintf(out, "%s\n", ForTerminal(gbk).c_str());
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(ToOsPath(path).c_str(), &info) == 0;
}

// The user's ledger, opened without creating it; null after printing why to `out` (when given).
std::unique_ptr<Ledger> OpenLedger(const AppSettings& settings, const std::string& gbkUser, FILE* out) {
    const std::string path = Ledger::PathFor(UserFolder(settings, gbkUser));
    if (!AppSettings::IsValidUserName(gbkUser) || !Exists(path)) {
        if (out) PrintGbk(out, GBK("此用户还没有备份记录。"));
        return nullptr;
    }
    std::string error;
    std::unique_ptr<Ledger> ledger = Ledger::Open(path, &error, false);
    if (!ledger && out) PrintGbk(out, error);
    return ledger;
}

// An outcome as the ledger records it, for people.
std::string OutcomeText(const std::string& outcome) {
    if (outcome == "done") return GBK("完成");
    if (outcome == "pictures failed") return GBK("完成，部分图片失败");
    if (outcome == "problems") return GBK("完成，有问题");
    if (outcome == "interrupted") return GBK("已中断");
    if (outcome == "failed") return GBK("失败");
    return outcome;
}

nlohmann::ordered_json RunJson(const std::optional<LedgerRun>& run) {
    if (!run) return nullptr;
    nlohmann::ordered_json json = {{"kind", run->kind},
                                   {"started_at", run->startedAt},
                                   {"ended_at", run->endedAt},
                                   {"outcome", run->outcome},
                                   {"text", run->text.bytes}};
    const RunCounts& counts = run->counts;
    if (run->kind == "update") {
        json["photos"] = counts.photos;
        json["details"] = counts.details;
        json["pictures_new"] = counts.picturesNew;
        json["pictures_present"] = counts.picturesPresent;
        json["pictures_failed"] = counts.picturesFailed;
        json["removed_albums"] = counts.removedAlbums;
        json["removed_photos"] = counts.removedPhotos;
    } else {
        json["problems"] = counts.problems;
    }
    return json;
}

nlohmann::ordered_json StatusJson(const std::string& gbkUser, const LedgerStatus& status, unsigned wanted) {
    nlohmann::ordered_json pictures;
    for (int size = 0; size < SizeCount; ++size) {
        const LedgerStatus::Pictures& counts = status.sizes[size];
        pictures[kSizeKeys[size]] = {{"wanted", (wanted & (1u << size)) != 0},
                                     {"stored", counts.stored},
                                     {"missing", counts.missing},
                                     {"failed", counts.failed}};
    }
    return {{"user", GbkToUtf8(gbkUser)}, {"last_update", RunJson(status.lastUpdate)},
            {"albums", status.albums},    {"albums_removed", status.albumsRemoved},
            {"photos", status.photos},    {"photos_removed", status.photosRemoved},
            {"pictures", pictures},       {"last_verify", RunJson(status.lastVerify)}};
}

// "上次更新：TIME，OUTCOME" and the run's text below it.
void PrintRun(const char* label, const std::optional<LedgerRun>& run) {
    if (!run) {
        PrintGbk(stdout, Utf8ToGbk(label) + GBK("无"));
        return;
    }
    PrintGbk(stdout, Utf8ToGbk(label) + run->endedAt + GBK("，") + OutcomeText(run->outcome));
    std::printf("  %s\n", TerminalSafe(run->text.bytes).c_str());
}

// The user folder names (GBK) below the output folder that hold a ledger.
std::vector<std::string> UsersWithLedgers(const AppSettings& settings) {
    std::vector<std::string> users;
    const std::string output = settings.outputPath.empty() ? "." : settings.outputPath;
    DIR* dir = ::opendir(ToOsPath(output).c_str());
    if (!dir) return users;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const std::string gbk = Utf8ToGbk(name);
        // Only names the core can say exactly.
        if (GbkToUtf8(gbk) != name || !AppSettings::IsValidUserName(gbk)) continue;
        if (Exists(Ledger::PathFor(UserFolder(settings, gbk)))) users.push_back(gbk);
    }
    ::closedir(dir);
    std::sort(users.begin(), users.end());
    return users;
}

// The largest size kept of the photo's picture, else its address at the service.
std::string PictureOf(const std::string& userFolder, const LedgerPhoto& photo) {
    for (int size = SizeCount - 1; size >= 0; --size) {
        const std::string path = PicturePath(userFolder, photo.id, size);
        if (!path.empty() && FileExists(path)) return AbsoluteOsPath(path);
    }
    return photo.address.empty() ? std::string() : PictureAddress(photo.address, SizeCount - 1);
}

}  // namespace

int VerifyCommand(const AppSettings& settings, const std::string& user, bool repair, JobProgress& progress) {
    const ZorbiService service = ZorbiService::FromEnvironment();
    VerifyContext context{settings, service, progress, Utf8ToGbk(user), repair};
    context.startPauseMs = 0;  // the pause lets a progress window open; a terminal needs none
    const VerifyResult result = VerifyBackup(context);
    for (const VerifyProblem& problem : result.problems) {
        std::string line = std::string(ProblemKindName(problem.kind)) + " " + problem.file;
        if (repair && problem.repaired) line += ": repaired";
        if (repair && !problem.repaired)
            line += problem.reason.empty() ? ": not repaired" : ": not repaired (" + problem.reason + ")";
        PrintGbk(stdout, line);
    }
    PrintGbk(stdout, progress.resultText);
    return ExitStatus(result.outcome);
}

int StatusCommand(const AppSettings& settings, const std::string& user, bool json) {
    const std::string gbkUser = Utf8ToGbk(user);
    const std::unique_ptr<Ledger> ledger = OpenLedger(settings, gbkUser, stdout);
    if (!ledger) return kExitFailed;
    const unsigned wanted = settings.pictureSizes;
    const LedgerStatus status = ledger->Status(wanted);
    if (ledger->failed()) {
        PrintGbk(stdout, ledger->error());
        return kExitFailed;
    }
    if (json) {
        const nlohmann::ordered_json object = StatusJson(gbkUser, status, wanted);
        std::printf("%s\n", object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
        return kExitOk;
    }
    PrintGbk(stdout, GBK("用户：") + gbkUser);
    PrintRun("上次更新：", status.lastUpdate);
    PrintGbk(stdout,
             Format(GBK("相册：%d个（服务器上已删除%d个）").c_str(), status.albums, status.albumsRemoved));
    PrintGbk(stdout,
             Format(GBK("照片：%d张（服务器上已删除%d张）").c_str(), status.photos, status.photosRemoved));
    for (int size = 0; size < SizeCount; ++size) {
        const LedgerStatus::Pictures& counts = status.sizes[size];
        if (!(wanted & (1u << size)) && counts.stored == 0 && counts.failed == 0) continue;
        PrintGbk(stdout, SizeNames()[size] + Format(GBK("：已保存%d张，缺失%d张，失败%d张").c_str(),
                                                    counts.stored, counts.missing, counts.failed));
    }
    PrintRun("上次校验：", status.lastVerify);
    return kExitOk;
}

nlohmann::ordered_json StatusJsonOf(const AppSettings& settings, const std::string& gbkUser) {
    const std::unique_ptr<Ledger> ledger = OpenLedger(settings, gbkUser, nullptr);
    LedgerStatus status;
    if (ledger) status = ledger->Status(settings.pictureSizes);
    if (ledger && ledger->failed()) status = LedgerStatus();
    return StatusJson(gbkUser, status, settings.pictureSizes);
}

int SearchCommand(const AppSettings& settings, const std::string& text,
                  const std::optional<std::string>& user) {
    const std::vector<std::string> users =
        user ? std::vector<std::string>{Utf8ToGbk(*user)} : UsersWithLedgers(settings);
    int found = 0;
    for (const std::string& name : users) {
        const std::unique_ptr<Ledger> ledger = OpenLedger(settings, name, stderr);
        if (!ledger) continue;
        const std::vector<SearchHit> hits = ledger->Search(text);
        if (ledger->failed()) PrintGbk(stderr, ledger->error());
        const std::string userFolder = UserFolder(settings, name);
        for (const SearchHit& hit : hits) {
            std::string line = TerminalSafe(GbkToUtf8(name)) + "\t" + TerminalSafe(hit.albumTitle.bytes) +
                               "\t" + TerminalSafe(hit.photo.title.bytes) + "\t" +
                               TerminalSafe(PictureOf(userFolder, hit.photo));
            if (!hit.photo.removedAt.empty()) line += "\t" + ForTerminal(GBK("（服务器上已删除）"));
            std::printf("%s\n", line.c_str());
            ++found;
        }
    }
    return found > 0 ? kExitOk : kExitFailed;
}
