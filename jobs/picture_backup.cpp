#include "jobs/picture_backup.h"

#include <chrono>
#include <deque>
#include <memory>
#include <set>

#include "catalogue/zorbi_service.h"
#include "output/link_format.h"
#include "platform/codepage.h"
#include "platform/text_format.h"

namespace {

// Hands an answer's body to a PictureStore. Every attempt of the engine starts a store afresh: from
// the .part's end for a range answer, from nothing for a whole one.
class PictureSink : public FetchSink {
  public:
    PictureSink(const std::string& userFolder, std::string photoId, int size)
        : userFolder_(userFolder), photoId_(std::move(photoId)), size_(size) {
        store_ = std::make_unique<PictureStore>(userFolder_, photoId_, size_);
        resumeFrom_ = store_->ResumeFrom();
    }
    bool Begin(long long offset) override {
        store_ = std::make_unique<PictureStore>(userFolder_, photoId_, size_);
        const auto resume = static_cast<long long>(store_->ResumeFrom());
        if (offset != 0 && offset != resume) return false;  // a range that does not continue the .part
        return store_->Begin(offset == 0 ? 200 : 206);
    }
    bool Write(std::string_view bytes) override {
        received_ += bytes.size();
        return store_->Append(bytes);
    }
    PictureStore& store() { return *store_; }
    long long resumeFrom() const { return static_cast<long long>(resumeFrom_); }
    std::uint64_t received() const { return received_; }

  private:
    std::string userFolder_;
    std::string photoId_;
    int size_;
    std::unique_ptr<PictureStore> store_;
    std::uint64_t resumeFrom_ = 0;
    std::uint64_t received_ = 0;
};

struct Wanted {
    const PhotoInfo* photo;
    int size;
    std::unique_ptr<PictureSink> sink;
    int id = -1;
};

}  // namespace

std::string ByteCountText(double bytes) {
    if (bytes < 1024) return Format("%.0f B", bytes);
    if (bytes < 1024 * 1024) return Format("%.1f KB", bytes / 1024);
    if (bytes < 1024.0 * 1024 * 1024) return Format("%.1f MB", bytes / (1024 * 1024));
    return Format("%.2f GB", bytes / (1024.0 * 1024 * 1024));
}

PictureBackupResult BackUpPictures(HttpDownloader& downloader, JobProgress& progress,
                                   const AlbumCatalogue& catalogue, const std::vector<bool>& albums,
                                   unsigned sizes, const std::string& userFolder, const std::string& caption,
                                   int ahead) {
    PictureBackupResult result;
    // What to fetch, in catalogue order; a picture two photo records share is fetched once.
    std::vector<Wanted> wanted;
    std::set<std::pair<std::string, int>> seen;
    for (int i = 0; i < catalogue.albumCount && i < static_cast<int>(albums.size()); ++i) {
        if (!albums[static_cast<size_t>(i)]) continue;
        const AlbumInfo& album = catalogue.albums[i];
        for (int j = 0; j < ListedPhotos(album); ++j) {
            const PhotoInfo& photo = album.photos[j];
            if (!IsSafeFileId(photo.id)) continue;
            for (int size = 0; size < SizeCount; ++size) {
                if (!(sizes & (1u << size)) || !seen.insert({photo.id.str(), size}).second) continue;
                if (PictureStore(userFolder, photo.id.view(), size).AlreadyPresent()) {
                    ++result.present;
                    continue;
                }
                wanted.push_back({&photo, size, nullptr});
            }
        }
    }

    FetchEngine& engine = downloader.engine();
    progress.SetCaption(caption);
    progress.SetRange(0, static_cast<int>(wanted.size()));
    progress.SetPos(0);
    const auto start = std::chrono::steady_clock::now();
    double bytes = 0;
    size_t submitted = 0;
    for (size_t k = 0; k < wanted.size() && !progress.interruptRequested; ++k) {
        for (; submitted < wanted.size() && submitted < k + static_cast<size_t>(ahead); ++submitted) {
            Wanted& w = wanted[submitted];
            w.sink = std::make_unique<PictureSink>(userFolder, w.photo->id.str(), w.size);
            FetchRequest request{PictureAddress(w.photo->url.view(), w.size)};
            request.rangeStart = w.sink->resumeFrom() > 0 ? w.sink->resumeFrom() : -1;
            request.sink = w.sink.get();
            w.id = engine.Submit(std::move(request));
        }
        Wanted& w = wanted[k];
        FetchResult answer = engine.Wait(w.id);
        if (answer.outcome == FetchResult::HttpError && answer.status == 416) {
            // The .part is as long as the picture or longer (a kill came between its last byte and the
            // rename): it continues nothing. It goes, and the picture is asked for whole.
            w.sink->store().Begin(416);
            w.sink = std::make_unique<PictureSink>(userFolder, w.photo->id.str(), w.size);
            FetchRequest whole{PictureAddress(w.photo->url.view(), w.size)};
            whole.sink = w.sink.get();
            answer = engine.Wait(engine.Submit(std::move(whole)));
        }
        if (answer.outcome == FetchResult::Interrupted) {
            w.sink->store().Abandon();
            break;
        }
        bytes += static_cast<double>(w.sink->received());
        std::string reason;
        if (answer.outcome == FetchResult::Received) {
            const std::optional<std::uint64_t> length =
                answer.contentLength >= 0 ? std::optional<std::uint64_t>(answer.contentLength) : std::nullopt;
            if (!w.sink->store().Finish(length)) reason = w.sink->store().reason();
        } else if (answer.outcome == FetchResult::HttpError) {
            w.sink->store().Abandon(HttpStatusReason(answer.status));
            reason = HttpStatusReason(answer.status);
        } else {
            w.sink->store().Abandon();
            reason = w.sink->store().reason();
        }
        if (reason.empty()) {
            ++result.fresh;
        } else {
            ++result.failed;
            result.failures.push_back(
                {w.photo->id.str(), PictureAddress(w.photo->url.view(), w.size), reason});
        }
        w.sink.reset();  // closes the file
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        progress.SetPos(static_cast<int>(k + 1));
        progress.SetText(Format(GBK("已下载%d/%d张图片（%s，%s/秒）").c_str(), static_cast<int>(k + 1),
                                static_cast<int>(wanted.size()), ByteCountText(bytes).c_str(),
                                ByteCountText(seconds > 0 ? bytes / seconds : 0).c_str()));
    }
    if (progress.interruptRequested) engine.CancelAll();
    return result;
}
