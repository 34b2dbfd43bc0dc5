#include "jobs/verify_backup.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "archive/file_digest.h"
#include "archive/ledger.h"
#include "catalogue/rest_reader.h"
#include "jobs/picture_backup.h"
#include "jobs/picture_store.h"
#include "output/link_format.h"
#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/folder_lock.h"
#include "platform/text_format.h"

namespace {

const char* const kSizeFolders[SizeCount] = {"small", "medium", "big", "large"};

// pictures/SIZE/ID.jpg, as problems name it.
std::string RelativePicturePath(const std::string& photoId, int size) {
    return std::string("pictures/") + kSizeFolders[size] + "/" + photoId + ".jpg";
}

// The safe ids of the files NAME.xml (or NAME.jpg) in a folder, sorted; none when it cannot be read.
std::vector<std::string> FileIds(const std::string& folder, std::string_view suffix) {
    std::vector<std::string> ids;
    DIR* dir = ::opendir(ToOsPath(folder).c_str());
    if (!dir) return ids;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.size() <= suffix.size() || !name.ends_with(suffix)) continue;
        const std::string_view id = name.substr(0, name.size() - suffix.size());
        if (IsSafeFileId(id)) ids.emplace_back(id);
    }
    ::closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(ToOsPath(path).c_str(), &info) == 0;
}

// One cached answer: its file and how the service is asked for it.
struct Answer {
    enum Request { User, List, AlbumPhotos, PhotoInfo };
    std::string file;  // relative to the user folder
    Request request;
    std::string id;  // the album or photo
    bool needed = false;
};

// One picture: what the ledger recorded of it, if anything.
struct Picture {
    std::string photo;
    int size = 0;
    std::optional<LedgerPicture> recorded;
};

class VerifyRun {
  public:
    explicit VerifyRun(const VerifyContext& context) : c_(context) {}

    VerifyResult Run();

  private:
    VerifyResult End(JobOutcome outcome, const std::string& text) {
        c_.progress.SetText(text);
        result_.outcome = outcome;
        return result_;
    }
    std::string File(const std::string& relative) const { return JoinPath(userFolder_, relative); }
    void Problem(VerifyProblem::Kind kind, const std::string& file) {
        result_.problems.push_back({kind, file, false, ""});
    }
    void Step(const std::string& file) {
        c_.progress.SetPos(++done_);
        c_.progress.SetText(Format(GBK("已校验%d/%d个文件：%s").c_str(), done_, total_, file.c_str()));
    }
    // The ledger commits now and then, so that a kill loses little of what was checked.
    void CommitNowAndThen();

    void CollectAnswers();
    void CollectPictures();
    void CheckAnswer(const Answer& answer);
    void CheckPicture(const Picture& picture);
    void RepairAnswers();
    void RepairPictures();
    std::string Summary() const;

    const VerifyContext& c_;
    std::string userFolder_;
    std::unique_ptr<Ledger> ledger_;
    std::vector<Answer> answers_;
    std::vector<Picture> pictures_;
    std::map<std::string, std::string> addresses_;  // photo id -> the picture's base address
    VerifyResult result_;
    int done_ = 0, total_ = 0;
    int picturesGood_ = 0, answersGood_ = 0;
    std::string networkError_;  // set once a repair's request found no network
    std::chrono::steady_clock::time_point lastCommit_;
};

VerifyResult VerifyRun::Run() {
    JobProgress& progress = c_.progress;
    if (!AppSettings::IsValidUserName(c_.selectedUser))
        return End(JobOutcome::Failed, GBK("找不到用户信息。"));
    userFolder_ = UserFolder(c_.settings, c_.selectedUser);
    const std::string ledgerPath = Ledger::PathFor(userFolder_);
    // A user never backed up has nothing to prove; nothing is created for it.
    if (!Exists(ledgerPath) && !Exists(File("rest/user.xml")))
        return End(JobOutcome::Failed, GBK("找不到用户信息。"));
    const FolderLock lock(userFolder_);
    if (!lock.held())
        return End(lock.busy() ? JobOutcome::FolderBusy : JobOutcome::Failed, lock.FailureText());
    std::string error;
    // A backup made before the ledger existed gets one here: its pictures are recorded as found.
    ledger_ = Ledger::Open(ledgerPath, &error);
    if (!ledger_) return End(JobOutcome::Failed, error);
    const std::int64_t run = ledger_->StartRun(c_.repair ? "repair" : "verify");
    if (!ledger_->Commit()) return End(JobOutcome::Failed, ledger_->error());

    std::this_thread::sleep_for(std::chrono::milliseconds(c_.startPauseMs));
    progress.SetCaption(c_.repair ? GBK("修复备份") : GBK("校验备份"));
    progress.SetText(GBK("正在读取备份记录..."));
    CollectAnswers();
    CollectPictures();
    total_ = static_cast<int>(answers_.size() + pictures_.size());
    progress.SetRange(0, total_);
    progress.SetPos(0);
    ledger_->Begin();
    lastCommit_ = std::chrono::steady_clock::now();
    for (const Answer& answer : answers_) {
        if (progress.interruptRequested) break;
        CheckAnswer(answer);
        Step(answer.file);
    }
    for (const Picture& picture : pictures_) {
        if (progress.interruptRequested) break;
        CheckPicture(picture);
        Step(RelativePicturePath(picture.photo, picture.size));
        CommitNowAndThen();
    }
    if (!ledger_->Commit()) return End(JobOutcome::Failed, ledger_->error());

    if (c_.repair && !result_.problems.empty() && !progress.interruptRequested) {
        ledger_->Begin();
        RepairAnswers();
        RepairPictures();
        if (!ledger_->Commit()) return End(JobOutcome::Failed, ledger_->error());
    }

    RunCounts counts;
    for (const VerifyProblem& problem : result_.problems) counts.problems += problem.repaired ? 0 : 1;
    JobOutcome outcome = counts.problems > 0 ? JobOutcome::DoneWithProblems : JobOutcome::Done;
    std::string text = Summary();
    if (progress.interruptRequested) {
        outcome = JobOutcome::Interrupted;
        text = GBK("已中断：") + text;
    }
    progress.SetText(text);
    ledger_->EndRun(run, OutcomeName(outcome), counts, text);
    if (!ledger_->Commit()) return End(JobOutcome::Failed, ledger_->error());
    result_.outcome = outcome;
    return result_;
}

void VerifyRun::CommitNowAndThen() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastCommit_ < std::chrono::seconds(5)) return;
    ledger_->Commit();
    ledger_->Begin();
    lastCommit_ = now;
}

void VerifyRun::CollectAnswers() {
    // Every answer in the cache is read; those the ledger's records rest on must be there.
    std::map<std::string, Answer> found;
    const auto add = [&](const Answer& answer) {
        Answer& entry = found.emplace(answer.file, answer).first->second;
        entry.needed = entry.needed || answer.needed;
    };
    const std::vector<LedgerAlbum> albums = ledger_->Albums();
    const std::vector<LedgerPhoto> photos = ledger_->Photos();
    for (const char* file : {"rest/user.xml", "rest/list.xml"}) {
        if (Exists(File(file)) || !albums.empty())
            add({file, file == std::string("rest/user.xml") ? Answer::User : Answer::List, "", true});
    }
    for (const std::string& id : FileIds(File("rest/albums"), ".xml"))
        add({"rest/albums/" + id + ".xml", Answer::AlbumPhotos, id, false});
    for (const LedgerAlbum& album : albums) {
        if (IsSafeFileId(album.id))
            add({"rest/albums/" + album.id + ".xml", Answer::AlbumPhotos, album.id, true});
    }
    for (const std::string& id : FileIds(File("rest/photos"), ".xml"))
        add({"rest/photos/" + id + ".xml", Answer::PhotoInfo, id, false});
    for (const LedgerPhoto& photo : photos) {
        addresses_.emplace(photo.id, photo.address);
        // Only the details answer gives a photo its secret: one recorded means the answer was stored.
        if (IsSafeFileId(photo.id) && !photo.secret.empty())
            add({"rest/photos/" + photo.id + ".xml", Answer::PhotoInfo, photo.id, true});
    }
    // The order a repair needs: the user before the list (its id is in the user's answer), then the rest.
    for (auto& [file, answer] : found) answers_.push_back(std::move(answer));
    std::stable_sort(answers_.begin(), answers_.end(),
                     [](const Answer& a, const Answer& b) { return a.request < b.request; });
}

void VerifyRun::CollectPictures() {
    std::map<std::pair<std::string, int>, Picture> found;
    for (auto& [key, recorded] : ledger_->Pictures())
        if (IsSafeFileId(key.first) && key.second >= 0 && key.second < SizeCount)
            found[key] = {key.first, key.second, recorded};
    for (int size = 0; size < SizeCount; ++size) {
        const std::string folder = JoinPath(PicturesFolder(userFolder_), kSizeFolders[size]);
        for (const std::string& id : FileIds(folder, ".jpg"))
            if (!found.count({id, size})) found[{id, size}] = {id, size, std::nullopt};
    }
    for (auto& [key, picture] : found) pictures_.push_back(std::move(picture));
}

void VerifyRun::CheckAnswer(const Answer& answer) {
    const std::string path = File(answer.file);
    struct stat info {};
    if (::lstat(ToOsPath(path).c_str(), &info) != 0) {
        if (errno != ENOENT || answer.needed)
            Problem(errno == ENOENT ? VerifyProblem::Missing : VerifyProblem::Unreadable, answer.file);
        return;
    }
    std::string text;
    // Not a file, or larger than any answer the readers take: unreadable without reading it.
    if (!S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) > RestReader::kMaxAnswerBytes ||
        !ReadWholeFile(path, text) || RestReader::CheckAnswer(text) != RestReader::AnswerKind::Ok) {
        Problem(VerifyProblem::Unreadable, answer.file);
        return;
    }
    ++answersGood_;
}

void VerifyRun::CheckPicture(const Picture& picture) {
    const std::string relative = RelativePicturePath(picture.photo, picture.size);
    const std::optional<FileDigest> digest = DigestFile(File(relative));
    if (!digest) {
        Problem(errno == ENOENT ? VerifyProblem::Missing : VerifyProblem::Unreadable, relative);
        return;
    }
    const bool whole = ImageEndsWhole(digest->head, digest->tail, static_cast<std::uint64_t>(digest->bytes));
    if (!picture.recorded) {
        // Stored before the ledger knew of it: a whole picture is taken as it is.
        if (!whole) {
            Problem(VerifyProblem::Incomplete, relative);
            return;
        }
        ledger_->RecordPicture(picture.photo, picture.size, digest->bytes, digest->sha256);
    } else if (!whole || digest->bytes < picture.recorded->bytes) {
        Problem(VerifyProblem::Incomplete, relative);
        return;
    } else if (digest->bytes != picture.recorded->bytes || digest->sha256 != picture.recorded->sha256) {
        Problem(VerifyProblem::Changed, relative);
        return;
    } else {
        ledger_->RecordVerified(picture.photo, picture.size);
    }
    ++picturesGood_;
}

void VerifyRun::RepairAnswers() {
    std::map<std::string, VerifyProblem*> broken;
    for (VerifyProblem& problem : result_.problems)
        if (problem.file.starts_with("rest/")) broken[problem.file] = &problem;
    if (broken.empty()) return;
    JobProgress& progress = c_.progress;
    HttpDownloader downloader;
    ConfigureDownloader(downloader, c_.settings, progress);
    progress.SetCaption(GBK("正在从") + c_.selectedUser + "." + c_.service.domain() + GBK("修复缓存数据..."));
    progress.SetRange(0, static_cast<int>(broken.size()));
    int step = 0;
    for (const Answer& answer : answers_) {
        const auto it = broken.find(answer.file);
        if (it == broken.end()) continue;
        if (progress.interruptRequested) return;
        VerifyProblem& problem = *it->second;
        // Without the network the other requests would only wait for their time-outs.
        if (!networkError_.empty()) {
            problem.reason = networkError_;
            continue;
        }
        progress.SetText(Format(GBK("正在下载%s").c_str(), answer.file.c_str()));
        std::string url;
        switch (answer.request) {
            case Answer::User:
                url = c_.service.UserRequest(c_.selectedUser);
                break;
            case Answer::List: {
                // The user's id, from its answer (repaired just before when it was broken).
                auto catalogue = std::make_unique<AlbumCatalogue>();
                RestReader reader(*catalogue, c_.service.pictureHost());
                const std::string userId = reader.ReadUser(File("rest/user.xml"));
                if (!userId.empty()) url = c_.service.AlbumListRequest(userId);
                break;
            }
            case Answer::AlbumPhotos:
                url = c_.service.AlbumPhotosRequest(answer.id);
                break;
            case Answer::PhotoInfo:
                url = c_.service.PhotoInfoRequest(answer.id);
                break;
        }
        progress.SetPos(++step);
        if (url.empty()) {
            problem.reason = GBK("找不到用户信息。");
            continue;
        }
        const HttpDownloader::Result fetched = downloader.Fetch(url);
        std::string message;
        switch (fetched.outcome) {
            case HttpDownloader::Result::Interrupted:
                return;
            case HttpDownloader::Result::NetworkError:
                problem.reason = fetched.cut ? GBK("服务器返回的数据无法识别") : GBK("网络错误");
                if (!fetched.cut) networkError_ = problem.reason;
                continue;
            case HttpDownloader::Result::HttpError:
                problem.reason = HttpStatusReason(fetched.status);
                continue;
            case HttpDownloader::Result::Received:
                break;
        }
        // Taken only as an update takes it: a readable service answer with stat "ok".
        switch (RestReader::CheckAnswer(fetched.body, &message)) {
            case RestReader::AnswerKind::Fail:
                problem.reason = message.empty() ? GBK("服务器返回错误") : message;
                continue;
            case RestReader::AnswerKind::Unreadable:
                problem.reason = GBK("服务器返回的数据无法识别");
                continue;
            case RestReader::AnswerKind::Ok:
                break;
        }
        const std::string path = File(answer.file);
        if (!MakeDirectories(path.substr(0, path.rfind(kPathSeparator))) ||
            !WriteFileAtomic(path, fetched.body)) {
            problem.reason = SystemErrorText(errno);
            continue;
        }
        problem.repaired = true;
    }
}

void VerifyRun::RepairPictures() {
    std::map<std::string, VerifyProblem*> byFile;
    for (VerifyProblem& problem : result_.problems) byFile[problem.file] = &problem;
    std::vector<PictureRequest> requests;
    std::map<std::pair<std::string, int>, VerifyProblem*> broken;
    for (const Picture& picture : pictures_) {
        const auto it = byFile.find(RelativePicturePath(picture.photo, picture.size));
        if (it == byFile.end()) continue;
        const auto address = addresses_.find(picture.photo);
        if (address == addresses_.end() || address->second.empty() || !networkError_.empty()) {
            it->second->reason = networkError_.empty() ? GBK("备份记录中没有图片地址") : networkError_;
            continue;
        }
        requests.push_back({picture.photo, picture.size, PictureAddress(address->second, picture.size)});
        broken[{picture.photo, picture.size}] = it->second;
    }
    if (requests.empty() || c_.progress.interruptRequested) return;
    HttpDownloader downloader;
    ConfigureDownloader(downloader, c_.settings, c_.progress);
    c_.progress.SetCaption(GBK("正在从") + c_.selectedUser + "." + c_.service.domain() + GBK("下载图片..."));
    const PictureBackupResult fetched = FetchPictures(
        downloader, c_.progress, requests, userFolder_, 4 * c_.settings.connections,
        [&](const std::string& photo, int size, bool) {
            const std::optional<FileDigest> digest = DigestFile(PicturePath(userFolder_, photo, size));
            if (!digest) return;
            ledger_->RecordPicture(photo, size, digest->bytes, digest->sha256);
            if (const auto it = broken.find({photo, size}); it != broken.end()) it->second->repaired = true;
        });
    // A picture still missing is listed for the next update, as the picture stage lists it.
    std::vector<FailedPicture> missing;
    for (const FailedPicture& failure : fetched.failures) {
        if (const auto it = broken.find({failure.photoId, failure.size}); it != broken.end())
            it->second->reason = failure.reason;
        if (PictureStore(userFolder_, failure.photoId, failure.size).AlreadyPresent()) continue;
        missing.push_back(failure);
        ledger_->RecordFailure(failure.photoId, failure.size, failure.address, failure.reason);
    }
    if (!WriteFailedList(userFolder_, missing)) {
        for (auto& [key, problem] : broken)
            if (!problem->repaired) problem->reason = WriteFailedText(FailedListPath(userFolder_), errno);
    }
}

std::string VerifyRun::Summary() const {
    int missing = 0, damaged = 0, unreadable = 0, answersMissing = 0, answersUnreadable = 0, repaired = 0;
    for (const VerifyProblem& problem : result_.problems) {
        const bool answer = problem.file.starts_with("rest/");
        switch (problem.kind) {
            case VerifyProblem::Missing:
                ++(answer ? answersMissing : missing);
                break;
            case VerifyProblem::Changed:
            case VerifyProblem::Incomplete:
                ++damaged;
                break;
            case VerifyProblem::Unreadable:
                ++(answer ? answersUnreadable : unreadable);
                break;
        }
        repaired += problem.repaired ? 1 : 0;
    }
    std::string text = Format(GBK("校验完成：%d张图片完好，%d张缺失，%d张已损坏。").c_str(), picturesGood_,
                              missing, damaged);
    if (unreadable > 0) text += Format(GBK("%d张图片无法读取。").c_str(), unreadable);
    text += Format(GBK("缓存数据%d个完好，%d个缺失，%d个无法读取。").c_str(), answersGood_, answersMissing,
                   answersUnreadable);
    if (c_.repair) {
        text += Format(GBK("已修复%d个文件，%d个未能修复。").c_str(), repaired,
                       static_cast<int>(result_.problems.size()) - repaired);
    }
    return text;
}

}  // namespace

VerifyResult VerifyBackup(const VerifyContext& context) {
    // The lock goes with the run, before the window learns that the job has ended.
    const VerifyResult result = VerifyRun(context).Run();
    context.progress.Close();
    return result;
}

const char* ProblemKindName(VerifyProblem::Kind kind) {
    switch (kind) {
        case VerifyProblem::Missing:
            return "missing";
        case VerifyProblem::Changed:
            return "changed";
        case VerifyProblem::Incomplete:
            return "incomplete";
        case VerifyProblem::Unreadable:
            return "unreadable";
    }
    return "";
}
