#include "jobs/picture_backup.h"

#include <chrono>
#include <map>
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
    bool Begin(const AnswerHead& head) override {
        store_ = std::make_unique<PictureStore>(userFolder_, photoId_, size_);
        store_->ResumeFrom();
        return store_->Begin(head);
    }
    bool Write(std::string_view bytes) override {
        received_ += bytes.size();
        return store_->Append(bytes);
    }
    PictureStore& store() { return *store_; }
    std::uint64_t resumeFrom() const { return resumeFrom_; }
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
    PictureRequest picture;
    std::string host;
    std::unique_ptr<PictureSink> sink;
    int id = -1;
};

// Asks for a picture: from the end of its .part, or whole.
void Submit(FetchEngine& engine, Wanted& w, const std::string& userFolder, bool whole) {
    w.sink = std::make_unique<PictureSink>(userFolder, w.picture.photoId, w.picture.size);
    FetchRequest request{w.picture.address};
    if (!whole && w.sink->resumeFrom() > 0) request.rangeStart = static_cast<long long>(w.sink->resumeFrom());
    request.sink = w.sink.get();
    w.id = engine.Submit(std::move(request));
}

// Stores the picture the answer brought, or says why not (an empty text once it is stored).
std::string Conclude(const FetchResult& answer, PictureStore& store) {
    switch (answer.outcome) {
        case FetchResult::Received:
            store.Finish();
            break;
        case FetchResult::HttpError:
            store.Abandon(HttpStatusReason(answer.status));
            break;
        default:
            if (answer.tooLarge)
                store.Drop(PictureReason::kTooLarge);
            else
                store.Abandon();
            break;
    }
    return store.reason();
}

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
                                   int ahead, const PictureFound& found) {
    RemoveStalePictureFiles(userFolder);
    // What to fetch, in catalogue order; a picture two photo records share is fetched once.
    std::vector<PictureRequest> wanted;
    int present = 0;
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
                    ++present;
                    if (found) found(photo.id.str(), size, false);
                    continue;
                }
                wanted.push_back({photo.id.str(), size, PictureAddress(photo.url.view(), size)});
            }
        }
    }
    progress.SetCaption(caption);
    PictureBackupResult result = FetchPictures(downloader, progress, wanted, userFolder, ahead, found);
    result.present = present;
    return result;
}

PictureBackupResult FetchPictures(HttpDownloader& downloader, JobProgress& progress,
                                  const std::vector<PictureRequest>& pictures, const std::string& userFolder,
                                  int ahead, const PictureFound& found) {
    PictureBackupResult result;
    std::vector<Wanted> wanted;
    wanted.reserve(pictures.size());
    for (const PictureRequest& picture : pictures)
        wanted.push_back({picture, UrlHost(picture.address), nullptr});

    FetchEngine& engine = downloader.engine();
    progress.SetRange(0, static_cast<int>(wanted.size()));
    progress.SetPos(0);
    const auto start = std::chrono::steady_clock::now();
    double bytes = 0;
    size_t submitted = 0;
    std::map<std::string, int> refusedInRow;  // per host
    const auto busy = [&](const Wanted& w) { return refusedInRow[w.host] >= kBusyHostRefusals; };
    for (size_t k = 0; k < wanted.size(); ++k) {
        if (progress.interruptRequested) {
            result.interrupted = true;
            break;
        }
        for (; submitted < wanted.size() && submitted < k + static_cast<size_t>(ahead); ++submitted)
            if (!busy(wanted[submitted])) Submit(engine, wanted[submitted], userFolder, false);
        Wanted& w = wanted[k];
        std::string reason;
        if (busy(w)) {
            // Left for the next run; a request already asked for is called off.
            engine.Cancel(w.id);
            reason = GBK("服务器繁忙");
        } else {
            FetchResult answer = engine.Wait(w.id);
            // A .part the answer does not continue (416, a range from elsewhere) goes, and the picture is
            // asked for whole.
            if ((answer.outcome == FetchResult::HttpError && answer.status == 416) ||
                w.sink->store().reason() == PictureReason::kBadRange) {
                w.sink->store().Drop(PictureReason::kBadRange);
                bytes += static_cast<double>(w.sink->received());
                Submit(engine, w, userFolder, true);
                answer = engine.Wait(w.id);
            }
            if (answer.outcome == FetchResult::Interrupted) {
                w.sink->store().Abandon();  // the .part stays for the next run
                result.interrupted = true;
                break;
            }
            bytes += static_cast<double>(w.sink->received());
            reason = Conclude(answer, w.sink->store());
            const bool refused =
                answer.outcome == FetchResult::HttpError && (answer.status == 429 || answer.status == 503);
            refusedInRow[w.host] = refused ? refusedInRow[w.host] + 1 : 0;
        }
        if (reason.empty()) {
            ++result.fresh;
            if (found) found(w.picture.photoId, w.picture.size, true);
        } else {
            ++result.failed;
            result.failures.push_back({w.picture.photoId, w.picture.address, reason, w.picture.size});
        }
        w.sink.reset();  // closes the file
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        progress.SetPos(static_cast<int>(k + 1));
        std::string text = Format(GBK("已下载%d/%d张图片（%s，%s/秒）").c_str(), static_cast<int>(k + 1),
                                  static_cast<int>(wanted.size()), ByteCountText(bytes).c_str(),
                                  ByteCountText(seconds > 0 ? bytes / seconds : 0).c_str());
        // The count is of pictures tried: those not stored are said as they happen.
        if (result.failed > 0) text += Format(GBK("，其中%d张失败").c_str(), result.failed);
        progress.SetText(text);
    }
    // Requests asked for ahead and not taken; their .part files stay.
    for (size_t k = 0; k < submitted; ++k)
        if (wanted[k].id >= 0) engine.Cancel(wanted[k].id);
    return result;
}
