#include "jobs/update_albums.h"

#include <chrono>
#include <thread>

#include "output/report_writer.h"
#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/text_format.h"

namespace {

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
    // Downloads an answer in a network update; false when the request failed.
    bool Fetch(const std::string& file, const std::string& url) {
        return fromCache_ || downloader_->Download(file, url) >= 0;
    }
    // The caption of a stage: the local text, or "正在从" + the user's host + the network text.
    std::string Caption(const char* local, const char* network) const {
        if (fromCache_) return Utf8ToGbk(local);
        return GBK("正在从") + c_.catalogue.userName + "." + c_.service.domain() + Utf8ToGbk(network);
    }

    bool ReadUserStage();
    bool ReadListStage();
    bool ReadPhotosStage();
    bool ReadDetailsStage();

    const UpdateContext& c_;
    const bool fromCache_;
    std::string userFolder_;
    std::unique_ptr<HttpDownloader> downloader_;
    int readCounter_ = 0;
    int detailCounter_ = 0;
};

const char kNetworkError[] = "网络错误。请检查网络是否连通，HTTP代理是否设置正确!";

bool UpdateRun::Run() {
    AlbumCatalogue& catalogue = c_.catalogue;
    JobProgress& progress = c_.progress;
    catalogue.userName = c_.selectedUser;
    // The name becomes a folder: one that cannot name a folder safely is no user of ours.
    if (!AppSettings::IsValidUserName(c_.selectedUser)) return End(GBK("找不到用户信息。"));
    userFolder_ = UserFolder(c_.settings, c_.selectedUser);
    for (const char* sub : {"", "rest", "rest/albums", "rest/photos"}) {
        const std::string folder = *sub ? JoinPath(userFolder_, sub) : userFolder_;
        MakeDirectory(folder);
        RemoveStaleTemporaryFiles(folder);  // left by a run that was killed mid-write
    }

    std::this_thread::sleep_for(std::chrono::milliseconds(c_.startPauseMs));
    progress.SetRange(0, 100);
    progress.SetPos(0);
    if (!fromCache_) {
        downloader_ = c_.makeDownloader();
        downloader_->SetProxy(c_.settings.proxyServer, c_.settings.proxyUser, c_.settings.proxyPassword);
        downloader_->SetProxyPort(c_.settings.proxyPort);
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
    const std::string file = JoinPath(userFolder_, "rest/user.xml");
    if (!Fetch(file, c_.service.UserRequest(catalogue.userName))) return End(GBK(kNetworkError));
    const std::string error = c_.reader.ReadError(file);
    if (!error.empty()) return End(error);
    catalogue.userId = c_.reader.ReadUser(file);
    c_.progress.SetPos(30);
    if (catalogue.userId.empty()) return End(GBK("找不到用户信息。"));
    return true;
}

bool UpdateRun::ReadListStage() {
    AlbumCatalogue& catalogue = c_.catalogue;
    JobProgress& progress = c_.progress;
    progress.SetText(GBK("正在读取相册列表..."));
    const std::string file = JoinPath(userFolder_, "rest/list.xml");
    if (!Fetch(file, c_.service.AlbumListRequest(catalogue.userId))) return End(GBK(kNetworkError));
    const std::string error = c_.reader.ReadError(file);
    if (!error.empty()) return End(error);
    c_.reader.ReadAlbumList(file);

    WriteIndexPage(catalogue, userFolder_);
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
        const std::string file = JoinPath(userFolder_, "rest/albums/" + album.id.str() + ".xml");
        if (!Fetch(file, c_.service.AlbumPhotosRequest(album.id))) return End(GBK(kNetworkError));
        const std::string error = c_.reader.ReadError(file);
        if (!error.empty()) return End(error);
        readCounter_ += c_.reader.ReadAlbumPhotos(file, i);
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
        for (int j = 0; j < album.photoCount && !progress.interruptRequested; ++j) {
            const PhotoInfo& photo = album.photos[j];
            if (IsSafeFileId(photo.id)) {
                const std::string file = JoinPath(userFolder_, "rest/photos/" + photo.id.str() + ".xml");
                const bool fetch =
                    !fromCache_ && (detailMode == DetailNetwork ||
                                    (detailMode == DetailLocalThenNetwork && !FileExists(file)));
                if (fetch && !Fetch(file, c_.service.PhotoInfoRequest(photo.id)))
                    return End(GBK(kNetworkError));
                const std::string error = c_.reader.ReadError(file);
                if (!error.empty()) return End(error);
                if (c_.reader.ReadPhotoInfo(file, i, j)) ++detailCounter_;
            }
            progress.SetPos(detailCounter_);
            progress.SetText(Format(GBK("共%d张图片, 已读取%d张(相册'%s'-图片'%s')").c_str(),
                                    catalogue.photoTotal, detailCounter_, album.title.str().c_str(),
                                    photo.title.str().c_str()));
        }
        WriteAlbumPages(album, userFolder_, c_.outputTemplate);
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
