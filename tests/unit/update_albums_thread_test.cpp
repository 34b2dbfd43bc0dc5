// The workflow on a worker thread while another thread sets interruptRequested, as the desktop
// program runs it; built with ALBUM_TSAN this lets ThreadSanitizer check what the two threads share.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core_doubles.h"
#include "jobs/update_albums.h"
#include "test_support.h"

namespace {

constexpr int kAlbums = 40;
constexpr int kPhotosPerAlbum = 3;

// Counts reports; when told to, waits in the report of one album until the other thread interrupts.
class WorkerProgress : public JobProgress {
  public:
    void SetCaption(const std::string&) override {}
    void SetRange(int, int) override {}
    void SetPos(int) override { reports.fetch_add(1); }
    void Close() override { closed = true; }

    std::atomic<int> reports{0};
    std::atomic<bool> closed{false};
    std::atomic<bool> waiting{false};
    std::string holdAtText;  // set before the worker starts

  protected:
    void ShowText(const std::string& text) override {
        reports.fetch_add(1);
        if (text != holdAtText) return;
        waiting = true;
        while (!interruptRequested) std::this_thread::yield();
    }
};

class UpdateAlbumsThreadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings.outputPath = dir.path();
        settings.detailMode = DetailLocal;
        WriteFile(dir / "bob/rest/user.xml", "<rsp stat='ok'><user id='u'/></rsp>");
        std::string list = "<rsp stat='ok'><albums>";
        for (int a = 0; a < kAlbums; ++a) {
            const std::string id = "a" + std::to_string(a);
            list += "<album id='" + id + "' photos='" + std::to_string(kPhotosPerAlbum) + "'><title>" + id +
                    "</title></album>";
            std::string photos = "<rsp stat='ok'><album><photos>";
            for (int p = 0; p < kPhotosPerAlbum; ++p) {
                const std::string pid = id + "p" + std::to_string(p);
                photos += "<photo id='" + pid + "' dir='d' filename='f'/>";
                WriteFile(dir / ("bob/rest/photos/" + pid + ".xml"),
                          "<rsp stat='ok'><photo secret='s'><description>x</description></photo></rsp>");
            }
            WriteFile(dir / ("bob/rest/albums/" + id + ".xml"), photos + "</photos></album></rsp>");
        }
        WriteFile(dir / "bob/rest/list.xml", list + "</albums></rsp>");
    }

    // Runs a local rebuild on a worker thread; `whileRunning` runs on this thread meanwhile.
    template <typename Body>
    JobOutcome RunOnWorker(Body whileRunning) {
        JobOutcome outcome = JobOutcome::Failed;
        std::thread worker([&] {
            UpdateContext context{*catalogue, reader, settings, service, progress, view, "bob", "$url"};
            context.startPauseMs = 0;
            outcome = UpdateAlbums(context, true);
        });
        whileRunning();
        worker.join();
        return outcome;
    }

    TempDir dir;
    AppSettings settings{dir.path()};
    std::unique_ptr<AlbumCatalogue> catalogue = std::make_unique<AlbumCatalogue>();
    ZorbiService service{"http://api.test", "http://pics.test"};
    RestReader reader{*catalogue, service.pictureHost()};
    WorkerProgress progress;
    NullListView view;
};

TEST_F(UpdateAlbumsThreadTest, InterruptFromAnotherThreadStopsThePhotoStageAtTheNextAlbum) {
    progress.holdAtText = G("读取相册【a9】...");
    const JobOutcome outcome = RunOnWorker([&] {
        while (!progress.waiting) std::this_thread::yield();
        progress.interruptRequested = true;
    });
    EXPECT_EQ(outcome, JobOutcome::Interrupted);
    EXPECT_TRUE(progress.closed);
    // Albums a0 to a9 were read, none after; the detail stage read no photo.
    EXPECT_EQ(G("已中断：共120张图片，已读取30张图片，其中0张图片包含原图地址和描述信息"),
              progress.resultText);
    // No album was read in full: none of the pages is rewritten.
    EXPECT_FALSE(Exists(dir / "bob/a0_3.htm"));
    EXPECT_FALSE(Exists(dir / "bob/a39_3.htm"));
}

TEST_F(UpdateAlbumsThreadTest, InterruptAtAnyMomentEndsAsInterrupted) {
    for (int round = 0; round < 5; ++round) {
        progress.interruptRequested = false;
        progress.closed = false;
        const int after = round * 40;
        const JobOutcome outcome = RunOnWorker([&] {
            while (progress.reports < after && !progress.closed) std::this_thread::yield();
            progress.interruptRequested = true;
        });
        EXPECT_TRUE(progress.closed);
        // An interrupt that came after the summary leaves a complete run.
        const char* start =
            outcome == JobOutcome::Done ? "共120张图片，已读取" : "已中断：共120张图片，已读取";
        EXPECT_EQ(progress.resultText.rfind(G(start), 0), 0u) << round;
    }
}

}  // namespace
