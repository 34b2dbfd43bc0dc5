#include "jobs/update_albums.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <vector>

#include "platform/folder_lock.h"
#include "test_support.h"

namespace {

// Records every report as one line, texts in UTF-8.
class RecordingProgress : public JobProgress {
  public:
    void SetCaption(const std::string& text) override { events.push_back("caption:" + GbkToUtf8(text)); }
    void SetRange(int lower, int upper) override {
        events.push_back("range:" + std::to_string(lower) + "-" + std::to_string(upper));
    }
    void SetPos(int position) override { events.push_back("pos:" + std::to_string(position)); }
    void Close() override { events.push_back("close"); }

    std::vector<std::string> events;
    std::string interruptOnText;  // sets interruptRequested when this text is shown

  protected:
    void ShowText(const std::string& text) override {
        events.push_back("text:" + GbkToUtf8(text));
        if (!interruptOnText.empty() && GbkToUtf8(text) == interruptOnText) interruptRequested = true;
    }
};

class RecordingListView : public AlbumListView {
  public:
    int RowCount() override { return static_cast<int>(rows.size()); }
    void DeleteRow(int row) override {
        rows.erase(rows.begin() + row);
        ops.push_back("delete " + std::to_string(row));
    }
    bool InsertRow(int row, const std::string& title) override {
        rows.insert(rows.begin() + row, GbkToUtf8(title));
        ops.push_back("insert " + std::to_string(row) + " " + GbkToUtf8(title));
        return true;
    }
    void SetCountText(int row, const std::string& text) override {
        ops.push_back("count " + std::to_string(row) + " " + text);
    }
    std::vector<std::string> rows;
    std::vector<std::string> ops;
};

// Serves answers by the request's last query value; records the requests.
class FakeDownloader : public HttpDownloader {
  public:
    FakeDownloader(std::map<std::string, std::string>& answers, std::vector<std::string>& requests)
        : answers_(answers), requests_(requests) {}
    // Answers ahead of time are fetched when taken, so the requests keep their order.
    int Submit(const std::string& url) override {
        submitted_.push_back(url);
        return static_cast<int>(submitted_.size() - 1);
    }
    Result Take(int id) override { return Fetch(submitted_[static_cast<size_t>(id)]); }
    Result Fetch(const std::string& url) override {
        requests_.push_back(url.substr(url.rfind('&') + 1));
        const auto answer = answers_.find(requests_.back());
        if (answer == answers_.end()) return {};
        return {Result::Received, 200, answer->second};
    }

  private:
    std::map<std::string, std::string>& answers_;
    std::vector<std::string>& requests_;
    std::vector<std::string> submitted_;
};

std::string PhotoList(std::initializer_list<std::pair<const char*, const char*>> photos) {
    std::string xml = "<rsp stat='ok'><album><photos>";
    for (const auto& [id, title] : photos)
        xml += std::string("<photo id='") + id + "' dir='d' filename='" + id + "' title='" + title + "'/>";
    return xml + "</photos></album></rsp>";
}

class UpdateAlbumsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings.outputPath = dir.path();
        // The service's world: alice with album a1 (2 photos) and a2 (none).
        answers["username=alice"] = "<rsp stat='ok'><user id='u1'><username>Alice</username></user></rsp>";
        answers["user_id=u1"] =
            "<rsp stat='ok'><albums><album id='a1' photos='2'><title>First</title></album>"
            "<album id='a2' photos='0'><title>Second</title></album></albums></rsp>";
        answers["album_id=a1"] = PhotoList({{"p1", "P1"}, {"p2", "P2"}});
        answers["album_id=a2"] = PhotoList({});
        answers["photo_id=p1"] =
            "<rsp stat='ok'><photo secret='s1'><description>D1</description></photo></rsp>";
        answers["photo_id=p2"] =
            "<rsp stat='ok'><photo secret='s2'><description>D2</description></photo></rsp>";
    }

    JobOutcome Run(bool fromCache, const std::string& user = "alice") {
        progress.events.clear();
        view.ops.clear();
        requests.clear();
        UpdateContext context{*catalogue, reader, settings, service,
                              progress,   view,   user,     "[$no]$title $description"};
        context.makeDownloader = [this] { return std::make_unique<FakeDownloader>(answers, requests); };
        context.startPauseMs = 0;
        return UpdateAlbums(context, fromCache);
    }
    std::string UserFile(const std::string& name) const { return dir / ("alice/" + name); }
    void Cache(const std::string& name, const std::string& answerKey) {
        WriteFile(UserFile(name), answers[answerKey]);
    }
    void CacheAll() {
        Cache("rest/user.xml", "username=alice");
        Cache("rest/list.xml", "user_id=u1");
        Cache("rest/albums/a1.xml", "album_id=a1");
        Cache("rest/albums/a2.xml", "album_id=a2");
        Cache("rest/photos/p1.xml", "photo_id=p1");
    }
    int Count(const std::string& event) const {
        return static_cast<int>(std::count(progress.events.begin(), progress.events.end(), event));
    }
    bool Has(const std::string& event) const { return Count(event) > 0; }

    TempDir dir;
    std::unique_ptr<AlbumCatalogue> catalogue = std::make_unique<AlbumCatalogue>();
    AppSettings settings{dir.path()};
    ZorbiService service{"http://api.test", "http://pics.test"};
    RestReader reader{*catalogue, service.pictureHost()};
    RecordingProgress progress;
    RecordingListView view;
    std::map<std::string, std::string> answers;
    std::vector<std::string> requests;
};

TEST_F(UpdateAlbumsTest, LocalRebuildReportsEveryStepInOrder) {
    CacheAll();
    settings.detailMode = DetailLocal;
    view.rows = {"stale"};
    ASSERT_EQ(Run(true), JobOutcome::Done);
    const std::vector<std::string> expected = {
        "range:0-100",
        "pos:0",
        "caption:正在从本地读取相册信息",
        "text:正在读取用户信息...",
        "pos:30",
        "text:正在读取相册列表...",
        "pos:90",
        "text:共2个相册，2张图片",
        "pos:100",
        "range:0-3",
        "caption:刷新相册列表",
        "text:正在清除列表...",
        "pos:1",
        "text:正在添加列表...",
        "pos:2",
        "pos:3",
        "caption:正在从本地读取读取图片信息...",
        "range:0-2",
        "pos:0",
        "text:读取相册【First】...",
        "pos:2",
        "text:读取相册【Second】...",
        "pos:2",
        "caption:正在从本地读取读取图片详细信息...",
        "range:0-2",
        "pos:0",
        "pos:1",
        "text:共2张图片, 已读取1张(相册'First'-图片'P1')",
        "pos:1",
        "text:共2张图片, 已读取1张(相册'First'-图片'P2')",
        "text:共2张图片，已读取2张图片，其中1张图片包含原图地址和描述信息",
        "close"};
    EXPECT_EQ(progress.events, expected);
    EXPECT_EQ(view.ops, (std::vector<std::string>{"delete 0", "insert 0 First", "count 0 2",
                                                  "insert 1 Second", "count 1 0"}));
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(catalogue->userName, "Alice");
    EXPECT_EQ(GbkToUtf8(progress.resultText), "共2张图片，已读取2张图片，其中1张图片包含原图地址和描述信息");
    EXPECT_TRUE(Exists(UserFile("alice_index.htm")));
    // The whole list, both photos and nothing else (P2's details were not cached).
    EXPECT_NE(ReadFile(UserFile("a1_3.htm")).find("<div>\r\n<p>[1]P1 D1</p>\r\n<p>[2]P2 </p>\r\n</div>"),
              std::string::npos);
    EXPECT_TRUE(Exists(UserFile("a2_0.htm")));
}

TEST_F(UpdateAlbumsTest, LocalRebuildWithoutCacheFindsNoUser) {
    EXPECT_EQ(Run(true), JobOutcome::Failed);
    EXPECT_EQ(progress.events.back(), "close");
    EXPECT_EQ(GbkToUtf8(progress.resultText), "找不到用户信息。");
    EXPECT_FALSE(Exists(UserFile("")));  // a rebuild creates nothing for a user without a cache
}

TEST_F(UpdateAlbumsTest, LocalRebuildWithUserFileOnlyWritesAnEmptyIndex) {
    Cache("rest/user.xml", "username=alice");
    EXPECT_EQ(Run(true), JobOutcome::Failed);
    EXPECT_EQ(GbkToUtf8(progress.resultText), "本地没有存储此用户的相册，请从网络更新其相册信息。");
    EXPECT_NE(ReadFile(UserFile("alice_index.htm")).find("\r\n</table>"), std::string::npos);
    EXPECT_TRUE(view.ops.empty());
}

TEST_F(UpdateAlbumsTest, NetworkUpdateOfUserWithoutAlbumsEmptiesTheList) {
    answers["user_id=u1"] = "<rsp stat='ok'><albums/></rsp>";
    view.rows = {"x", "y"};
    settings.detailMode = DetailNetwork;
    EXPECT_EQ(Run(false), JobOutcome::Done);
    EXPECT_TRUE(view.rows.empty());
    EXPECT_EQ(GbkToUtf8(progress.resultText), "共0张图片，已读取0张图片，其中0张图片包含原图地址和描述信息");
    EXPECT_EQ(requests, (std::vector<std::string>{"username=alice", "user_id=u1"}));
}

TEST_F(UpdateAlbumsTest, NetworkCaptionsNameTheUserAsTypedThenAsTheServiceSpellsIt) {
    EXPECT_EQ(Run(false), JobOutcome::Done);
    EXPECT_EQ(progress.events[2], "caption:正在从alice.zorbi.example更新相册信息");
    EXPECT_TRUE(Has("caption:正在从Alice.zorbi.example读取图片信息..."));
    EXPECT_TRUE(Has("caption:正在从Alice.zorbi.example读取图片详细信息..."));
    EXPECT_TRUE(Exists(UserFile("alice_index.htm")));  // the folder keeps the typed name
}

TEST_F(UpdateAlbumsTest, ServiceErrorAtTheUserStageEndsBeforeTheAlbumList) {
    answers["username=alice"] = ReadFile(DataFile("error.xml"));
    EXPECT_EQ(Run(false), JobOutcome::Failed);
    EXPECT_EQ(progress.resultText, "User not found & gone");
    EXPECT_EQ(requests, std::vector<std::string>{"username=alice"});
    EXPECT_FALSE(Exists(UserFile("rest/user.xml")));  // an error answer is never cached
}

TEST_F(UpdateAlbumsTest, FailedDownloadEndsWithTheNetworkError) {
    answers.erase("album_id=a2");
    settings.detailMode = DetailNetwork;
    EXPECT_EQ(Run(false), JobOutcome::Failed);
    EXPECT_EQ(GbkToUtf8(progress.resultText), "网络错误。请检查网络是否连通，HTTP代理是否设置正确!");
    EXPECT_FALSE(Exists(UserFile("a1_0.htm")));  // the detail stage never ran
}

TEST_F(UpdateAlbumsTest, DetailModesOnASecondUpdate) {
    settings.detailMode = DetailNone;
    ASSERT_EQ(Run(false), JobOutcome::Done);
    EXPECT_EQ(requests.size(), 4u);              // user, list, two albums
    EXPECT_FALSE(Exists(UserFile("a1_0.htm")));  // mode 0 writes no album pages
    Cache("rest/photos/p1.xml", "photo_id=p1");

    settings.detailMode = DetailLocal;
    ASSERT_EQ(Run(false), JobOutcome::Done);
    EXPECT_EQ(requests.size(), 4u);
    EXPECT_EQ(GbkToUtf8(progress.resultText), "共2张图片，已读取2张图片，其中1张图片包含原图地址和描述信息");

    settings.detailMode = DetailLocalThenNetwork;
    ASSERT_EQ(Run(false), JobOutcome::Done);
    EXPECT_EQ(requests.back(), "photo_id=p2");
    EXPECT_EQ(requests.size(), 5u);
    EXPECT_EQ(GbkToUtf8(progress.resultText), "共2张图片，已读取2张图片，其中2张图片包含原图地址和描述信息");

    settings.detailMode = DetailNetwork;
    ASSERT_EQ(Run(false), JobOutcome::Done);
    EXPECT_EQ(requests.size(), 6u);
    EXPECT_EQ(catalogue->albums[0].photos[1].secret, "s2");
}

TEST_F(UpdateAlbumsTest, InterruptDuringThePhotoStageKeepsThePagesItHad) {
    settings.detailMode = DetailNetwork;
    WriteFile(UserFile("a2_3.htm"), "good page");
    progress.interruptOnText = "读取相册【First】...";
    EXPECT_EQ(Run(false), JobOutcome::Interrupted);
    EXPECT_FALSE(Has("text:读取相册【Second】..."));
    EXPECT_EQ(
        std::count_if(requests.begin(), requests.end(), [](auto& r) { return r.rfind("photo_id", 0) == 0; }),
        0);
    EXPECT_EQ(GbkToUtf8(progress.resultText),
              "已中断：共2张图片，已读取2张图片，其中0张图片包含原图地址和描述信息");
    // First's photo list was read but none of its details: neither album is rewritten.
    EXPECT_FALSE(Exists(UserFile("a1_3.htm")));
    EXPECT_EQ(ReadFile(UserFile("a2_3.htm")), "good page");
}

TEST_F(UpdateAlbumsTest, InterruptDuringTheListRefreshSkipsThePhotos) {
    settings.detailMode = DetailLocal;
    CacheAll();
    view.rows = {"old1", "old2"};
    progress.interruptOnText = "正在清除列表...";
    EXPECT_EQ(Run(true), JobOutcome::Interrupted);
    EXPECT_EQ(view.rows, (std::vector<std::string>{"old1", "old2"}));
    EXPECT_EQ(GbkToUtf8(progress.resultText),
              "已中断：共2张图片，已读取0张图片，其中0张图片包含原图地址和描述信息");
    EXPECT_FALSE(Exists(UserFile("a1_0.htm")));
}

// While another job holds the user folder, a job ends at once naming the holder and writes nothing.
TEST_F(UpdateAlbumsTest, JobOnAUserFolderAnotherJobHoldsChangesNothing) {
    CacheAll();
    const FolderLock other(UserFile(""));
    EXPECT_EQ(Run(false), JobOutcome::FolderBusy);
    const std::string text =
        "此用户正在被另一个任务更新（进程" + std::to_string(getpid()) + "），请稍后再试。";
    EXPECT_EQ(progress.events, (std::vector<std::string>{"text:" + text, "close"}));
    EXPECT_TRUE(requests.empty());
    EXPECT_FALSE(Exists(UserFile("alice_index.htm")));
}

TEST_F(UpdateAlbumsTest, AlbumAnnouncingMorePhotosThanListedShowsTheListedOnes) {
    answers["user_id=u1"] =
        "<rsp stat='ok'><albums><album id='a1' photos='4'><title>First</title></album></albums></rsp>";
    settings.detailMode = DetailNetwork;
    EXPECT_EQ(Run(false), JobOutcome::Done);
    EXPECT_EQ(catalogue->albums[0].photoCount, 4);
    EXPECT_EQ(Count("text:共4张图片, 已读取2张(相册'First'-图片'')"), 0);  // unfilled slots are skipped
    const std::string page = ReadFile(UserFile("a1_0.htm"));
    size_t entries = 0;
    for (size_t at = page.find("<p>"); at != std::string::npos; at = page.find("<p>", at + 1)) ++entries;
    EXPECT_EQ(entries, 2u);
    EXPECT_EQ(GbkToUtf8(progress.resultText), "共4张图片，已读取2张图片，其中2张图片包含原图地址和描述信息");
}

TEST_F(UpdateAlbumsTest, UnsafeIdsAreNeitherFetchedNorRead) {
    answers["user_id=u1"] =
        "<rsp stat='ok'><albums><album id='../../evil' photos='1'/><album id='a1' "
        "photos='2'/></albums></rsp>";
    settings.detailMode = DetailNetwork;
    answers["album_id=a1"] = PhotoList({{"../p", "bad"}, {"p2", "P2"}});
    EXPECT_EQ(Run(false), JobOutcome::Done);
    for (const std::string& r : requests) EXPECT_EQ(r.find("evil"), std::string::npos) << r;
    EXPECT_EQ(requests.back(), "photo_id=p2");
    EXPECT_FALSE(Exists(dir / "evil.xml"));
    EXPECT_FALSE(Exists(dir / "alice/rest/p.xml"));
}

TEST_F(UpdateAlbumsTest, InvalidUserNameEndsAtOnceWithoutAFolder) {
    EXPECT_EQ(Run(false, "../outside"), JobOutcome::Failed);
    EXPECT_EQ(GbkToUtf8(progress.resultText), "找不到用户信息。");
    EXPECT_EQ(progress.events, (std::vector<std::string>{"text:找不到用户信息。", "close"}));
    EXPECT_FALSE(Exists(dir / "../outside"));
    EXPECT_TRUE(requests.empty());
}

TEST(ZorbiServiceTest, RequestsEncodeTheirValues) {
    const ZorbiService service("http://api.test", "http://pics.test");
    EXPECT_EQ(service.UserRequest(G("a b&c#张")),
              "http://api.test/api/rest/"
              "?method=zorbi.people.findByUsername&api_key=5f3e9c07a2d14b6880c1e7f29a3b6d4e"
              "&username=a%20b%26c%23%E5%BC%A0");
    EXPECT_EQ(service.PhotoInfoRequest("1@N0~x.y-z_"),
              "http://api.test/api/rest/?method=zorbi.photos.getInfo&api_key=5f3e9c07a2d14b6880c1e7f29a3b6d4e"
              "&photo_id=1%40N0~x.y-z_");
}

}  // namespace
