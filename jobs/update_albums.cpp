#include "jobs/update_albums.h"

#include <cerrno>
#include <chrono>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "archive/file_digest.h"
#include "archive/ledger.h"
#include "jobs/picture_backup.h"
#include "output/gallery.h"
#include "output/image_files.h"
#include "output/link_format.h"
#include "output/report_writer.h"
#include "output/sidecars.h"
#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/folder_lock.h"
#include "platform/text_format.h"

static_assert(HttpDownloader::DownloadBufferSize >= RestReader::kMaxAnswerBytes,
              "an answer the readers take must not be refused as a download");

namespace {

const char kNetworkError[] = "网络错误。请检查网络是否连通，HTTP代理是否设置正确!";

std::string UnrecognisedText(const std::string& relativePath) {
    return Format(GBK("服务器返回的数据无法识别（%s），本地缓存保持不变。").c_str(), relativePath.c_str());
}

// One run of the workflow; the member functions are its stages.
class UpdateRun {
  public:
    UpdateRun(const UpdateContext& context, bool fromCache) : c_(context), fromCache_(fromCache) {}

    // Runs the job under the user folder's lock and sets the final text; UpdateAlbums closes the progress.
    JobOutcome Run();

  private:
    // Ends the run with a final text; returns false for the caller to pass on.
    bool End(const std::string& text) {
        c_.progress.SetText(text);
        return false;
    }
    JobOutcome EndWith(JobOutcome outcome, const std::string& text) {
        End(text);
        return outcome;
    }
    // In a network update, brings one answer into the cache: it replaces the cached file only when it
    // is a service answer with stat "ok". False when the run has ended (its text set). An interrupted
    // request replaces nothing and returns true: the stages stop at their next check.
    bool Fetch(const std::string& relativePath, const std::string& url) {
        return fromCache_ || Store(relativePath, downloader_->Fetch(url));
    }
    bool Store(const std::string& relativePath, const HttpDownloader::Result& result);

    // Answers asked for ahead of their turn, then taken strictly in catalogue order, so that reports
    // and the cache come out as one request at a time gives them.
    struct Ahead {
        std::string relativePath;
        std::string url;
        int id = -1;
    };
    void StartAhead(std::vector<Ahead> answers) {
        ahead_ = std::move(answers);
        submitted_ = 0;
    }
    // Fetch for the k-th answer of the list.
    bool TakeAhead(size_t k) {
        for (; submitted_ < ahead_.size() && submitted_ <= k + AheadWindow(); ++submitted_)
            ahead_[submitted_].id = downloader_->Submit(ahead_[submitted_].url);
        return Store(ahead_[k].relativePath, downloader_->Take(ahead_[k].id));
    }
    size_t AheadWindow() const { return static_cast<size_t>(4 * c_.settings.connections); }
    // The caption of a stage: the local text, or "正在从" + the user's host + the network text.
    std::string Caption(const char* local, const char* network) const {
        if (fromCache_) return Utf8ToGbk(local);
        return GBK("正在从") + c_.catalogue.userName + "." + c_.service.domain() + Utf8ToGbk(network);
    }
    std::string CacheFile(const std::string& relativePath) const {
        return JoinPath(userFolder_, relativePath);
    }

    bool MakeFolder(const std::string& folder);
    bool MakeFolders();
    JobOutcome RunStages();
    // The ledger of a network update: what the stages read and stored goes into it, committed at
    // each stage's end. False when it cannot be opened or written (the run has then ended).
    bool OpenLedger();
    bool CommitLedger() { return !ledger_ || ledger_->Commit() || End(ledger_->error()); }
    bool RecordPhotoLists();
    void RecordPicture(const std::string& photoId, int size, bool fresh);
    bool ReadUserStage();
    bool ReadListStage();
    bool ReadPhotosStage();
    bool ReadDetailsStage();
    bool PicturesStage();
    bool WritePagesStage();
    bool GalleryStage();

    const UpdateContext& c_;
    const bool fromCache_;
    std::string userFolder_;
    std::unique_ptr<HttpDownloader> downloader_;
    std::vector<bool> photosRead_;   // per album: its photo list was read in this run
    std::vector<bool> listFetched_;  // per album: its photo list came from the service in this run
    std::vector<bool> pagesDue_;     // per album: read in full, its pages are to be written
    std::vector<Ahead> ahead_;
    size_t submitted_ = 0;
    bool abandoned_ = false;  // a request was given up on an interrupt
    PictureBackupResult pictures_;
    int readCounter_ = 0;
    int detailCounter_ = 0;
    std::unique_ptr<Ledger> ledger_;
    std::int64_t run_ = 0;
    RunCounts counts_;
    std::map<std::pair<std::string, int>, LedgerPicture> recorded_;  // the ledger's pictures at the start
    std::chrono::steady_clock::time_point lastCommit_;
};

bool UpdateRun::Store(const std::string& relativePath, const HttpDownloader::Result& result) {
    switch (result.outcome) {
        case HttpDownloader::Result::Interrupted:
            abandoned_ = true;
            return true;
        case HttpDownloader::Result::NetworkError:
            if (!result.cut) return End(GBK(kNetworkError));
            // A body shorter than it said it was is an answer, and a broken one.
            return End(UnrecognisedText(relativePath));
        case HttpDownloader::Result::HttpError:
            if (result.proxyRefused)
                return End(
                    Format(GBK("代理服务器拒绝了用户名或密码（HTTP %d），请在设置中检查代理。").c_str(),
                           static_cast<int>(result.status)));
            return End(Format(GBK("服务器返回错误（HTTP %d），本地缓存保持不变。").c_str(),
                              static_cast<int>(result.status)));
        case HttpDownloader::Result::Received:
            break;
    }
    std::string message;
    switch (RestReader::CheckAnswer(result.body, &message)) {
        case RestReader::AnswerKind::Fail:
            // The service's own error is reported and never cached: a stored one would stand in for
            // the answer in every later run.
            if (!message.empty()) return End(message);
            return true;
        case RestReader::AnswerKind::Unreadable:
            return End(UnrecognisedText(relativePath));
        case RestReader::AnswerKind::Ok:
            break;
    }
    const std::string file = CacheFile(relativePath);
    if (!WriteFileAtomic(file, result.body)) return End(WriteFailedText(file, errno));
    return true;
}

bool UpdateRun::MakeFolder(const std::string& folder) {
    if (MakeDirectories(folder)) return true;
    return End(
        Format(GBK("无法创建文件夹：%s（%s）").c_str(), folder.c_str(), SystemErrorText(errno).c_str()));
}

bool UpdateRun::MakeFolders() {
    for (const char* sub : {"", "rest", "rest/albums", "rest/photos"}) {
        const std::string folder = *sub ? JoinPath(userFolder_, sub) : userFolder_;
        if (!MakeFolder(folder)) return false;
        RemoveStaleTemporaryFiles(folder);  // left by a run that was killed mid-write
    }
    return true;
}

JobOutcome UpdateRun::Run() {
    AlbumCatalogue& catalogue = c_.catalogue;
    JobProgress& progress = c_.progress;
    catalogue.userName = c_.selectedUser;
    // The name becomes a folder: one that cannot name a folder safely is no user of ours.
    if (!AppSettings::IsValidUserName(c_.selectedUser))
        return EndWith(JobOutcome::Failed, GBK("找不到用户信息。"));
    userFolder_ = UserFolder(c_.settings, c_.selectedUser);
    // A rebuild reads what is there and creates nothing for a user without a cache.
    if (fromCache_ && !FileExists(CacheFile("rest/user.xml")))
        return EndWith(JobOutcome::Failed, GBK("找不到用户信息。"));
    // One job per user folder, in this process or another; the one turned away changes nothing.
    if (!MakeFolder(userFolder_)) return JobOutcome::Failed;
    const FolderLock lock(userFolder_);
    if (!lock.held())
        return EndWith(lock.busy() ? JobOutcome::FolderBusy : JobOutcome::Failed, lock.FailureText());
    if (!MakeFolders()) return JobOutcome::Failed;
    if (!fromCache_ && !OpenLedger()) return JobOutcome::Failed;
    const JobOutcome outcome = RunStages();
    if (ledger_) {
        counts_.photos = readCounter_;
        counts_.details = detailCounter_;
        counts_.picturesNew = pictures_.fresh;
        counts_.picturesPresent = pictures_.present;
        counts_.picturesFailed = pictures_.failed;
        ledger_->EndRun(run_, OutcomeName(outcome), counts_, progress.resultText);
        if (!ledger_->Commit() && outcome != JobOutcome::Failed)
            return EndWith(JobOutcome::Failed, ledger_->error());
    }
    return outcome;
}

bool UpdateRun::OpenLedger() {
    std::string error;
    ledger_ = Ledger::Open(Ledger::PathFor(userFolder_), &error);
    if (!ledger_) return End(error);
    run_ = ledger_->StartRun("update");
    return CommitLedger();
}

JobOutcome UpdateRun::RunStages() {
    AlbumCatalogue& catalogue = c_.catalogue;
    JobProgress& progress = c_.progress;
    std::this_thread::sleep_for(std::chrono::milliseconds(c_.startPauseMs));
    progress.SetRange(0, 100);
    progress.SetPos(0);
    if (!fromCache_) {
        downloader_ = c_.makeDownloader();
        ConfigureDownloader(*downloader_, c_.settings, progress);
    }

    // A request abandoned before the album list is read leaves nothing to read: the job ends at once.
    if (!ReadUserStage()) return JobOutcome::Failed;
    if (!abandoned_ && !ReadListStage()) return JobOutcome::Failed;
    if (!abandoned_ && (!ReadPhotosStage() || !ReadDetailsStage())) return JobOutcome::Failed;
    if (!PicturesStage() || !WritePagesStage() || !GalleryStage()) return JobOutcome::Failed;
    std::string summary =
        Format(GBK("共%d张图片，已读取%d张图片，其中%d张图片包含原图地址和描述信息").c_str(),
               catalogue.photoTotal, readCounter_, detailCounter_);
    if (!fromCache_ && c_.settings.pictureSizes != 0) {
        summary += Format(GBK("；图片：新下载%d张，已有%d张，失败%d张").c_str(), pictures_.fresh,
                          pictures_.present, pictures_.failed);
    }
    if (counts_.removedPhotos > 0)
        summary += Format(GBK("；服务器上已删除%d张照片（本地保留）").c_str(), counts_.removedPhotos);
    // What an interrupted run did is no complete backup, whatever stage it stopped in.
    if (progress.interruptRequested) return EndWith(JobOutcome::Interrupted, GBK("已中断：") + summary);
    return EndWith(pictures_.failed > 0 ? JobOutcome::DonePicturesFailed : JobOutcome::Done, summary);
}

bool UpdateRun::ReadUserStage() {
    AlbumCatalogue& catalogue = c_.catalogue;
    c_.progress.SetCaption(Caption("正在从本地读取相册信息", "更新相册信息"));
    c_.progress.SetText(GBK("正在读取用户信息..."));
    if (!Fetch("rest/user.xml", c_.service.UserRequest(catalogue.userName))) return false;
    if (abandoned_) return true;
    catalogue.userId = c_.reader.ReadUser(CacheFile("rest/user.xml"));
    c_.progress.SetPos(30);
    if (catalogue.userId.empty()) return End(GBK("找不到用户信息。"));
    return true;
}

bool UpdateRun::ReadListStage() {
    AlbumCatalogue& catalogue = c_.catalogue;
    JobProgress& progress = c_.progress;
    progress.SetText(GBK("正在读取相册列表..."));
    if (!Fetch("rest/list.xml", c_.service.AlbumListRequest(catalogue.userId))) return false;
    c_.reader.ReadAlbumList(CacheFile("rest/list.xml"));
    photosRead_.assign(static_cast<size_t>(catalogue.albumCount), false);

    const PageWrite index = WriteIndexPage(catalogue, userFolder_);
    if (!index.ok()) return End(WriteFailedText(index.failedPath, index.error));
    progress.SetPos(90);
    progress.SetText(Format(GBK("共%d个相册，%d张图片").c_str(), catalogue.albumCount, catalogue.photoTotal));
    progress.SetPos(100);
    if (fromCache_ && catalogue.albumCount == 0) {
        return End(GBK("本地没有存储此用户的相册，请从网络更新其相册信息。"));
    }
    RefreshAlbumList(catalogue, c_.albumList, progress);
    // A list abandoned on an interrupt was read from the cache: it says nothing new.
    if (!ledger_ || abandoned_) return true;
    ledger_->Begin();
    ledger_->SeeAlbums(catalogue, run_);
    if (!progress.interruptRequested) {
        const Ledger::Removed removed = ledger_->MarkAlbumsRemoved(run_);
        counts_.removedAlbums += removed.albums;
        counts_.removedPhotos += removed.photos;
    }
    return CommitLedger();
}

bool UpdateRun::ReadPhotosStage() {
    AlbumCatalogue& catalogue = c_.catalogue;
    JobProgress& progress = c_.progress;
    progress.SetCaption(Caption("正在从本地读取读取图片信息...", "读取图片信息..."));
    progress.SetRange(0, catalogue.photoTotal);
    progress.SetPos(0);
    // An id unfit as a file name is treated as an answer that is missing.
    std::vector<Ahead> lists;
    for (int i = 0; i < catalogue.albumCount && !fromCache_; ++i) {
        const AlbumInfo& album = catalogue.albums[i];
        if (IsSafeFileId(album.id))
            lists.push_back(
                {"rest/albums/" + album.id.str() + ".xml", c_.service.AlbumPhotosRequest(album.id)});
    }
    StartAhead(std::move(lists));
    listFetched_.assign(static_cast<size_t>(catalogue.albumCount), false);
    size_t next = 0;
    for (int i = 0; i < catalogue.albumCount && !progress.interruptRequested; ++i) {
        const AlbumInfo& album = catalogue.albums[i];
        progress.SetText(Format(GBK("读取相册【%s】...").c_str(), album.title.str().c_str()));
        if (!IsSafeFileId(album.id)) continue;
        const std::string file = "rest/albums/" + album.id.str() + ".xml";
        if (!fromCache_ && !TakeAhead(next++)) return false;
        readCounter_ += c_.reader.ReadAlbumPhotos(CacheFile(file), i);
        photosRead_[static_cast<size_t>(i)] = true;
        listFetched_[static_cast<size_t>(i)] = !fromCache_ && !abandoned_;
        progress.SetPos(readCounter_);
    }
    return RecordPhotoLists();
}

bool UpdateRun::RecordPhotoLists() {
    if (!ledger_) return true;
    // An interrupted run marks nothing removed: what it did not read says nothing.
    const bool marks = !c_.progress.interruptRequested;
    ledger_->Begin();
    for (size_t i = 0; i < listFetched_.size(); ++i) {
        if (!listFetched_[i]) continue;
        const AlbumInfo& album = c_.catalogue.albums[static_cast<int>(i)];
        ledger_->SeePhotos(album, run_);
        if (marks) counts_.removedPhotos += ledger_->MarkPhotosRemoved(album.id.view(), run_);
    }
    return CommitLedger();
}

bool UpdateRun::ReadDetailsStage() {
    AlbumCatalogue& catalogue = c_.catalogue;
    JobProgress& progress = c_.progress;
    const DetailMode detailMode = c_.settings.detailMode;
    progress.SetCaption(Caption("正在从本地读取读取图片详细信息...", "读取图片详细信息..."));
    progress.SetRange(0, catalogue.photoTotal);
    progress.SetPos(0);
    pagesDue_.assign(static_cast<size_t>(catalogue.albumCount), false);
    if (detailMode <= DetailNone) return true;
    // Which answers to fetch, in the order they are read. An error answer that an earlier version
    // stored counts as missing.
    std::vector<Ahead> details;
    std::vector<bool> fetch;
    for (int i = 0; i < catalogue.albumCount && !fromCache_; ++i) {
        const AlbumInfo& album = catalogue.albums[i];
        for (int j = 0; j < ListedPhotos(album); ++j) {
            const PhotoInfo& photo = album.photos[j];
            const std::string file = "rest/photos/" + photo.id.str() + ".xml";
            const bool wanted = IsSafeFileId(photo.id) &&
                                (detailMode == DetailNetwork || (detailMode == DetailLocalThenNetwork &&
                                                                 !c_.reader.HoldsAnswer(CacheFile(file))));
            fetch.push_back(wanted);
            if (wanted) details.push_back({file, c_.service.PhotoInfoRequest(photo.id)});
        }
    }
    StartAhead(std::move(details));
    if (ledger_) ledger_->Begin();
    size_t record = 0, next = 0;
    for (int i = 0; i < catalogue.albumCount; ++i) {
        const AlbumInfo& album = catalogue.albums[i];
        const int listed = ListedPhotos(album);
        int j = 0;
        for (; j < listed && !progress.interruptRequested; ++j, ++record) {
            const PhotoInfo& photo = album.photos[j];
            if (IsSafeFileId(photo.id)) {
                const std::string file = "rest/photos/" + photo.id.str() + ".xml";
                if (!fromCache_ && fetch[record] && !TakeAhead(next++)) return false;
                if (c_.reader.ReadPhotoInfo(CacheFile(file), i, j)) {
                    ++detailCounter_;
                    if (ledger_) ledger_->SeeDetails(album.id.view(), photo);
                }
            }
            progress.SetPos(detailCounter_);
            progress.SetText(Format(GBK("共%d张图片, 已读取%d张(相册'%s'-图片'%s')").c_str(),
                                    catalogue.photoTotal, detailCounter_, album.title.str().c_str(),
                                    photo.title.str().c_str()));
        }
        record += static_cast<size_t>(listed - j);
        // After an interrupt, an album not read in full keeps the pages it had.
        pagesDue_[static_cast<size_t>(i)] = photosRead_[static_cast<size_t>(i)] && j == listed;
    }
    return CommitLedger();
}

bool UpdateRun::PicturesStage() {
    if (fromCache_ || c_.settings.pictureSizes == 0 || c_.progress.interruptRequested) return true;
    recorded_ = ledger_->Pictures();
    ledger_->Begin();
    lastCommit_ = std::chrono::steady_clock::now();
    pictures_ = BackUpPictures(
        *downloader_, c_.progress, c_.catalogue, photosRead_, c_.settings.pictureSizes, userFolder_,
        Caption("", "下载图片..."), static_cast<int>(AheadWindow()),
        [this](const std::string& photoId, int size, bool fresh) { RecordPicture(photoId, size, fresh); });
    for (const FailedPicture& failure : pictures_.failures)
        ledger_->RecordFailure(failure.photoId, failure.size, failure.address, failure.reason);
    if (!WriteFailedList(userFolder_, pictures_.failures))
        return End(WriteFailedText(FailedListPath(userFolder_), errno));
    if (!CommitLedger()) return false;
    if (!c_.settings.sidecars || c_.progress.interruptRequested) return true;
    const SidecarWrite sidecars = WriteSidecars(userFolder_, c_.selectedUser, *ledger_);
    return sidecars.ok() || End(sidecars.failure);
}

bool UpdateRun::GalleryStage() {
    if (!c_.settings.gallery || c_.progress.interruptRequested) return true;
    Ledger* ledger = ledger_.get();
    std::unique_ptr<Ledger> opened;
    if (!ledger) {
        // A rebuild shows what updates recorded; a user no update has recorded has no gallery yet.
        const std::string path = Ledger::PathFor(userFolder_);
        if (!FileExists(path)) return true;
        std::string error;
        opened = Ledger::Open(path, &error, false);
        if (!opened) return End(error);
        ledger = opened.get();
    }
    c_.progress.SetText(GBK("正在生成相册画廊..."));
    const GalleryBuild gallery = BuildGallery(userFolder_, c_.selectedUser, *ledger);
    return gallery.ok() || End(gallery.failure);
}

void UpdateRun::RecordPicture(const std::string& photoId, int size, bool fresh) {
    // A picture there already is recorded once: when it was stored before the ledger existed.
    if (!fresh && recorded_.count({photoId, size})) return;
    // Read back at once, while the bytes are still in memory; the gallery needs the dimensions.
    const std::string path = PicturePath(userFolder_, photoId, size);
    const std::optional<FileDigest> digest = DigestFile(path);
    if (!digest) return;
    ledger_->RecordPicture(photoId, size, digest->bytes, digest->sha256);
    if (const std::optional<ImageSize> dimensions = ReadImageSize(path))
        ledger_->RecordDimensions(photoId, size, dimensions->width, dimensions->height);
    // A long stage commits now and then, so a kill loses little of what it recorded.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastCommit_ > std::chrono::seconds(5)) {
        ledger_->Commit();
        ledger_->Begin();
        lastCommit_ = now;
    }
}

bool UpdateRun::WritePagesStage() {
    // Pages of a size whose pictures are kept link the local copies that are there.
    const unsigned sizes = c_.settings.pictureSizes;
    const LocalPictureLink localLink = [this, sizes](std::string_view photoId, int size) {
        if (!(sizes & (1u << size))) return std::string();
        const LocalPicture local = LocalPicturePath(userFolder_, photoId, size);
        return local.present ? local.relativePath : std::string();
    };
    for (size_t i = 0; i < pagesDue_.size(); ++i) {
        if (!pagesDue_[i]) continue;
        const PageWrite pages = WriteAlbumPages(c_.catalogue.albums[i], userFolder_, c_.outputTemplate,
                                                sizes ? localLink : LocalPictureLink());
        if (!pages.ok()) return End(WriteFailedText(pages.failedPath, pages.error));
    }
    return true;
}

}  // namespace

const char* OutcomeName(JobOutcome outcome) {
    switch (outcome) {
        case JobOutcome::Done:
            return "done";
        case JobOutcome::DonePicturesFailed:
            return "pictures failed";
        case JobOutcome::DoneWithProblems:
            return "problems";
        case JobOutcome::Interrupted:
            return "interrupted";
        case JobOutcome::Failed:
        case JobOutcome::FolderBusy:
            break;
    }
    return "failed";
}

JobOutcome UpdateAlbums(const UpdateContext& context, bool fromCache) {
    // The lock and the downloader go with the run, before the window learns that the job has ended.
    const JobOutcome outcome = UpdateRun(context, fromCache).Run();
    context.progress.Close();
    return outcome;
}

void ConfigureDownloader(HttpDownloader& downloader, const AppSettings& settings, JobProgress& progress) {
    downloader.SetProxy(settings.proxyServer, settings.proxyUser, settings.proxyPassword);
    downloader.SetProxyPort(settings.proxyPort);
    downloader.SetInterruptFlag(&progress.interruptRequested);
    FetchEngine& engine = downloader.engine();
    engine.SetConnections(settings.connections);
    engine.SetRetries(settings.retries);
    engine.SetRate(settings.rate);
    engine.SetHostWaitReport([&progress](int seconds) {
        if (seconds > 0) progress.SetText(Format(GBK("服务器要求暂停，%d秒后继续…").c_str(), seconds));
    });
}

std::string UserFolder(const AppSettings& settings, const std::string& userName) {
    return JoinPath(settings.outputPath, userName);
}

void RefreshAlbumList(const AlbumCatalogue& catalogue, AlbumListView& view, JobProgress& progress) {
    const int rows = view.RowCount();
    progress.SetRange(0, rows + catalogue.albumCount);
    progress.SetCaption(GBK("刷新相册列表"));
    progress.SetText(GBK("正在清除列表..."));
    int deleted = 0;
    for (int row = rows - 1; row >= 0 && !progress.interruptRequested; --row) {
        view.DeleteRow(row);
        progress.SetPos(++deleted);
    }
    progress.SetText(GBK("正在添加列表..."));
    for (int i = 0; i < catalogue.albumCount && !progress.interruptRequested; ++i) {
        InsertAlbumRow(catalogue, view, i, i);
        progress.SetPos(deleted + i + 1);
    }
}

void InsertAlbumRow(const AlbumCatalogue& catalogue, AlbumListView& view, int row, int albumIndex) {
    const AlbumInfo& album = catalogue.albums[albumIndex];
    if (!view.InsertRow(row, album.title.str())) return;
    view.SetCountText(row, std::to_string(album.photoCount));
}
