#include "jobs/update_albums.h"

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "output/link_format.h"
#include "output/report_writer.h"
#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/text_format.h"

namespace {

const char kNetworkError[] = "网络错误。请检查网络是否连通，HTTP代理是否设置正确!";

std::string WriteFailedText(const std::string& path, int error) {
    return Format(GBK("无法写入文件：%s（%s）").c_str(), path.c_str(), SystemErrorText(error).c_str());
}

// One run of the workflow; the member functions are its stages.
class UpdateRun {
  public:
    UpdateRun(const UpdateContext& context, bool fromCache) : c_(context), fromCache_(fromCache) {}

    bool Run();

  private:
    // Ends the run with a final text; returns false for the caller to pass on.
    bool End(const std::string& text) {
        c_.progress.SetText(text);
        c_.progress.Close();
        return false;
    }
    // In a network update, brings one answer into the cache: it replaces the cached file only when it
    // is a service answer with stat "ok". False when the run has ended (its text set). An interrupted
    // request replaces nothing and returns true: the stages stop at their next check.
    bool Fetch(const std::string& relativePath, const std::string& url);
    // The caption of a stage: the local text, or "正在从" + the user's host + the network text.
    std::string Caption(const char* local, const char* network) const {
        if (fromCache_) return Utf8ToGbk(local);
        return GBK("正在从") + c_.catalogue.userName + "." + c_.service.domain() + Utf8ToGbk(network);
    }
    std::string CacheFile(const std::string& relativePath) const {
        return JoinPath(userFolder_, relativePath);
    }

    bool MakeFolders();
    bool ReadUserStage();
    bool ReadListStage();
    bool ReadPhotosStage();
    bool ReadDetailsStage();

    const UpdateContext& c_;
    const bool fromCache_;
    std::string userFolder_;
    std::unique_ptr<HttpDownloader> downloader_;
    std::vector<bool> photosRead_;  // per album: its photo list was read in this run
    int readCounter_ = 0;
    int detailCounter_ = 0;
};

bool UpdateRun::Fetch(const std::string& relativePath, const std::string& url) {
    if (fromCache_) return true;
    const HttpDownloader::Result result = downloader_->Fetch(url);
    switch (result.outcome) {
        case HttpDownloader::Result::Interrupted:
            return true;
        case HttpDownloader::Result::NetworkError:
            return End(GBK(kNetworkError));
        case HttpDownloader::Result::HttpError:
            if (result.status == 407)
                return End(GBK("代理服务器拒绝了用户名或密码（HTTP 407），请在设置中检查代理。"));
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
            return End(Format(GBK("服务器返回的数据无法识别（%s），本地缓存保持不变。").c_str(),
                              relativePath.c_str()));
        case RestReader::AnswerKind::Ok:
            break;
    }
    const std::string file = CacheFile(relativePath);
    if (!WriteFileAtomic(file, result.body)) return End(WriteFailedText(file, errno));
    return true;
}

bool UpdateRun::MakeFolders() {
    for (const char* sub : {"", "rest", "rest/albums", "rest/photos"}) {
        const std::string folder = *sub ? JoinPath(userFolder_, sub) : userFolder_;
        if (!MakeDirectories(folder)) {
            return End(Format(GBK("无法创建文件夹：%s（%s）").c_str(), folder.c_str(),
                              SystemErrorText(errno).c_str()));
        }
        RemoveStaleTemporaryFiles(folder);  // left by a run that was killed mid-write
    }
    return true;
}

bool UpdateRun::Run() {
    AlbumCatalogue& catalogue = c_.catalogue;
    JobProgress& progress = c_.progress;
    catalogue.userName = c_.selectedUser;
    // The name becomes a folder: one that cannot name a folder safely is no user of ours.
    if (!AppSettings::IsValidUserName(c_.selectedUser)) return End(GBK("找不到用户信息。"));
    userFolder_ = UserFolder(c_.settings, c_.selectedUser);
    // A rebuild reads what is there and creates nothing for a user without a cache.
    if (fromCache_ && !FileExists(CacheFile("rest/user.xml"))) return End(GBK("找不到用户信息。"));
    if (!MakeFolders()) return false;

    std::this_thread::sleep_for(std::chrono::milliseconds(c_.startPauseMs));
    progress.SetRange(0, 100);
    progress.SetPos(0);
    if (!fromCache_) {
        downloader_ = c_.makeDownloader();
        downloader_->SetProxy(c_.settings.proxyServer, c_.settings.proxyUser, c_.settings.proxyPassword);
        downloader_->SetProxyPort(c_.settings.proxyPort);
        downloader_->SetInterruptFlag(&progress.interruptRequested);
    }

    if (!ReadUserStage() || !ReadListStage()) return false;
    if (!ReadPhotosStage() || !ReadDetailsStage()) return false;
    progress.SetText(Format(GBK("共%d张图片，已读取%d张图片，其中%d张图片包含原图地址和描述信息").c_str(),
                            catalogue.photoTotal, readCounter_, detailCounter_));
    progress.Close();
    return true;
}

bool UpdateRun::ReadUserStage() {
    AlbumCatalogue& catalogue = c_.catalogue;
    c_.progress.SetCaption(Caption("正在从本地读取相册信息", "更新相册信息"));
    c_.progress.SetText(GBK("正在读取用户信息..."));
    if (!Fetch("rest/user.xml", c_.service.UserRequest(catalogue.userName))) return false;
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
    return true;
}

bool UpdateRun::ReadPhotosStage() {
    AlbumCatalogue& catalogue = c_.catalogue;
    JobProgress& progress = c_.progress;
    progress.SetCaption(Caption("正在从本地读取读取图片信息...", "读取图片信息..."));
    progress.SetRange(0, catalogue.photoTotal);
    progress.SetPos(0);
    for (int i = 0; i < catalogue.albumCount && !progress.interruptRequested; ++i) {
        const AlbumInfo& album = catalogue.albums[i];
        progress.SetText(Format(GBK("读取相册【%s】...").c_str(), album.title.str().c_str()));
        // An id unfit as a file name is treated as an answer that is missing.
        if (!IsSafeFileId(album.id)) continue;
        const std::string file = "rest/albums/" + album.id.str() + ".xml";
        if (!Fetch(file, c_.service.AlbumPhotosRequest(album.id))) return false;
        readCounter_ += c_.reader.ReadAlbumPhotos(CacheFile(file), i);
        photosRead_[static_cast<size_t>(i)] = true;
        progress.SetPos(readCounter_);
    }
    return true;
}

bool UpdateRun::ReadDetailsStage() {
    AlbumCatalogue& catalogue = c_.catalogue;
    JobProgress& progress = c_.progress;
    const DetailMode detailMode = c_.settings.detailMode;
    progress.SetCaption(Caption("正在从本地读取读取图片详细信息...", "读取图片详细信息..."));
    progress.SetRange(0, catalogue.photoTotal);
    progress.SetPos(0);
    if (detailMode <= DetailNone) return true;
    for (int i = 0; i < catalogue.albumCount; ++i) {
        const AlbumInfo& album = catalogue.albums[i];
        const int listed = ListedPhotos(album);
        int j = 0;
        for (; j < listed && !progress.interruptRequested; ++j) {
            const PhotoInfo& photo = album.photos[j];
            if (IsSafeFileId(photo.id)) {
                const std::string file = "rest/photos/" + photo.id.str() + ".xml";
                // An error answer that an earlier version stored counts as missing.
                const bool fetch =
                    !fromCache_ && (detailMode == DetailNetwork || (detailMode == DetailLocalThenNetwork &&
                                                                    !c_.reader.HoldsAnswer(CacheFile(file))));
                if (fetch && !Fetch(file, c_.service.PhotoInfoRequest(photo.id))) return false;
                if (c_.reader.ReadPhotoInfo(CacheFile(file), i, j)) ++detailCounter_;
            }
            progress.SetPos(detailCounter_);
            progress.SetText(Format(GBK("共%d张图片, 已读取%d张(相册'%s'-图片'%s')").c_str(),
                                    catalogue.photoTotal, detailCounter_, album.title.str().c_str(),
                                    photo.title.str().c_str()));
        }
        // After an interrupt, an album not read in full keeps the pages it had.
        if (!photosRead_[static_cast<size_t>(i)] || j < listed) continue;
        const PageWrite pages = WriteAlbumPages(album, userFolder_, c_.outputTemplate);
        if (!pages.ok()) return End(WriteFailedText(pages.failedPath, pages.error));
    }
    return true;
}

}  // namespace

bool UpdateAlbums(const UpdateContext& context, bool fromCache) {
    return UpdateRun(context, fromCache).Run();
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
