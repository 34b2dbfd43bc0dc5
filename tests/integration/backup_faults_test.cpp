// What a backup keeps when the service, the disk or the user gets in the way: albumbrowser-cli run
// against zorbi-demo-service after a good update, and the cache and pages compared byte for byte.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <tinyxml.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "catalogue/zorbi_service.h"
#include "cli_process.h"
#include "demo_service_process.h"
#include "net/http_downloader.h"
#include "temp_dir.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

const char kSummary[] = "共62张图片，已读取59张图片，其中59张图片包含原图地址和描述信息\n";
const std::string kConfig = "[config]\r\ndetail=3\r\nretries=0\r\n[users]\r\nuser0=demo\r\n";
// The third photo of the first album (no album page is written before its answer is read), and the
// cache file of its answer.
const char kPhoto[] = "10000100003";
const char kPhotoAnswer[] = "rest/photos/10000100003.xml";

std::string Unrecognised(const std::string& answer) {
    return "服务器返回的数据无法识别（" + answer + "），本地缓存保持不变。\n";
}

// Every file below a folder (relative path -> bytes); temporary files count, so a leftover shows.
using Snapshot = std::map<std::string, std::string>;

// Every file but those that record each run, failed ones too.
Snapshot TakeSnapshot(const fs::path& root) {
    Snapshot files;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(root, ignored))
        if (entry.is_regular_file() && !IsRunRecord(entry.path()))
            files[fs::relative(entry.path(), root).string()] = ReadFile(entry.path());
    return files;
}

// The paths that differ between two snapshots, for a readable failure.
std::string Differences(const Snapshot& before, const Snapshot& after) {
    std::string text;
    for (const auto& [path, bytes] : before) {
        const auto found = after.find(path);
        if (found == after.end())
            text += " gone:" + path;
        else if (found->second != bytes)
            text += " changed:" + path;
    }
    for (const auto& entry : after)
        if (!before.contains(entry.first)) text += " new:" + entry.first;
    return text;
}

// A whole XML document without NUL bytes whose root is rsp with stat "ok", judged by TinyXML alone.
bool IsOkAnswer(const std::string& bytes) {
    TiXmlDocument document;
    document.Parse(bytes.c_str());
    const TiXmlElement* root = document.RootElement();
    return bytes.find('\0') == std::string::npos && !document.Error() && root && root->ValueStr() == "rsp" &&
           root->Attribute("stat") && std::string(root->Attribute("stat")) == "ok";
}

// What no file of a backup may be, whenever it is looked at: a cached answer other than a service
// answer with stat "ok", or a page cut short. Temporary files of a killed run are left out.
std::string DamagedFiles(const Snapshot& files) {
    std::string text;
    for (const auto& [path, bytes] : files) {
        if (path.find(".tmp-") != std::string::npos) continue;
        if (path.ends_with(".xml") && !IsOkAnswer(bytes)) text += " answer:" + path;
        if (path.ends_with(".htm") && !bytes.ends_with("</html>")) text += " page:" + path;
    }
    return text;
}

// Runs as another user when the tests run as root, for whom every folder is writable.
void AsNobody() {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
}

// Gives or takes write permission on every folder at and below `root` (files keep theirs); others may
// read and enter them, so that nobody can run the job there.
void SetFoldersWritable(const fs::path& root, bool writable) {
    const auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    std::vector<fs::path> folders{root};
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_directory()) folders.push_back(entry.path());
    for (const fs::path& folder : folders) {
        fs::permissions(folder, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
        if (writable)
            fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add);
        else
            fs::permissions(folder, write, fs::perm_options::remove);
    }
}

class BackupFaultsTest : public testing::Test {
  protected:
    // A good update with photo details, so every answer and page exists.
    void SetUp() override {
        WriteFile(folder_ / "config.ini", kConfig);
        const CliResult result = Update(service_);
        ASSERT_EQ(result.status, 0) << result.out << result.err;
        ASSERT_EQ(result.out, kSummary);
        good_ = TakeSnapshot(user_);
        ASSERT_TRUE(good_.contains(kPhotoAnswer));
        ASSERT_TRUE(good_.contains("72157100001_3.htm"));
        ASSERT_EQ(DamagedFiles(good_), "");
    }

    CliResult Update(const DemoServiceProcess& service, const std::function<void()>& inChild = {}) {
        return RunCli(folder_, service.baseUrl(), {"update", "demo", "--quiet"}, inChild);
    }

    // Pages name pictures at the service's address: runs whose pages are compared share this one. A
    // little latency spreads a run out, for the kills.
    DemoServiceProcess service_{{"--latency-ms", "1"}};
    TempDir temp_{"backup-faults-test"};
    const fs::path folder_{temp_.path()};
    const fs::path user_ = folder_ / "demo";
    Snapshot good_;
};

// Each answer the service gets wrong ends the update with its text and exit status 1, and leaves every
// cached answer and page as the good update wrote it.
TEST_F(BackupFaultsTest, HostileAnswerEndsTheUpdateAndChangesNothing) {
    struct Case {
        std::vector<std::string> switches;
        std::string out;
    };
    std::vector<Case> cases;
    for (const char* kind : {"html", "empty", "nocontent", "short", "gzip", "utf16", "deep", "noroot"}) {
        cases.push_back(
            {{"--bad-answer", kind, "--only", "zorbi.albums.getList"}, Unrecognised("rest/list.xml")});
        cases.push_back({{"--bad-answer", kind, "--only", std::string("zorbi.photos.getInfo=") + kPhoto},
                         Unrecognised(kPhotoAnswer)});
    }
    cases.push_back(
        {{"--fail-answer", "用户不存在", "--only", "zorbi.people.findByUsername"}, "用户不存在\n"});
    cases.push_back({{"--fail-answer", "照片已删除", "--only", std::string("zorbi.photos.getInfo=") + kPhoto},
                     "照片已删除\n"});
    cases.push_back({{"--error-status", "500"}, "服务器返回错误（HTTP 500），本地缓存保持不变。\n"});
    cases.push_back(
        {{"--error-status", "407"}, "代理服务器拒绝了用户名或密码（HTTP 407），请在设置中检查代理。\n"});

    for (const Case& c : cases) {
        std::string name;
        for (const std::string& word : c.switches) name += word + " ";
        SCOPED_TRACE(name);
        DemoServiceProcess service(c.switches);
        const CliResult result = Update(service);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(Differences(good_, TakeSnapshot(user_)), "");
    }
}

// An error answer that an earlier version cached counts as missing: "cache, else network" fetches it
// again, and only it, and the good answer takes its place.
TEST_F(BackupFaultsTest, CachedErrorAnswerIsFetchedAgain) {
    WriteFile(user_ / kPhotoAnswer,
              "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
              "<rsp stat=\"fail\">\n<err code=\"1\" msg=\"Photo not found\" />\n</rsp>\n");
    WriteFile(folder_ / "config.ini", "[config]\r\ndetail=2\r\n[users]\r\nuser0=demo\r\n");
    const size_t logged = service_.log().size();
    const CliResult result = Update(service_);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.out, kSummary);
    EXPECT_EQ(Differences(good_, TakeSnapshot(user_)), "");
    const std::string log = service_.log().substr(logged);
    size_t detailRequests = 0;
    for (size_t at = log.find("zorbi.photos.getInfo"); at != std::string::npos;
         at = log.find("zorbi.photos.getInfo", at + 1))
        ++detailRequests;
    EXPECT_EQ(detailRequests, 1u) << log;
    EXPECT_NE(log.find(std::string("photo_id=") + kPhoto), std::string::npos) << log;
}

// An output folder whose parents are missing is created with them, and holds the same backup.
TEST_F(BackupFaultsTest, OutputFolderIsCreatedWithItsParents) {
    const fs::path output = folder_ / "backups/zorbi/nightly";
    WriteFile(folder_ / "config.ini",
              "[config]\r\ndetail=3\r\npath=" + output.string() + "\r\n[users]\r\nuser0=demo\r\n");
    const CliResult result = Update(service_);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.out, kSummary);
    // The same backup; album pages link each other by their paths.
    Snapshot expected = good_;
    const std::string from = user_.string(), to = (output / "demo").string();
    for (auto& [path, bytes] : expected)
        for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size()))
            bytes.replace(at, from.size(), to);
    EXPECT_EQ(Differences(expected, TakeSnapshot(output / "demo")), "");
}

// Folders the job may not write: the update ends with the path and the system's reason, exit status 1,
// and what was there stays.
TEST_F(BackupFaultsTest, ReadOnlyFolderEndsTheUpdateWithItsPath) {
    // The service knows more than the cache: the user's answer must be written.
    WriteFile(user_ / "rest/user.xml", good_["rest/user.xml"] + "\n");
    struct Case {
        const char* name;
        fs::path readOnly;  // this folder and those below it
        bool removeUserFolder;
        std::string out;  // how the text starts
    };
    const Case cases[] = {
        {"ledger to open", folder_, false,
         "备份记录文件无法打开：" + (user_ / "archive.sqlite").string() + "（"},
        {"cached answer to replace", user_ / "rest", false,
         "无法写入文件：" + (user_ / "rest/user.xml").string() + "（Permission denied）\n"},
        {"user folder to create", folder_, true,
         "无法创建文件夹：" + user_.string() + "（Permission denied）\n"},
    };
    // The folder cannot take the run's outputs.
    const TempDir outputs("backup-faults-outputs");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.removeUserFolder) fs::remove_all(user_);
        // The lock and the ledger are as open to the job as to the user whose earlier run made them.
        const auto shared = fs::perms::others_read | fs::perms::others_write;
        if (!c.removeUserFolder) {
            fs::permissions(user_ / ".lock", shared, fs::perm_options::add);
            fs::permissions(user_ / "archive.sqlite", shared, fs::perm_options::add);
            fs::permissions(user_, shared | fs::perms::others_exec, fs::perm_options::add);
        }
        const Snapshot before = TakeSnapshot(user_);
        SetFoldersWritable(c.readOnly, false);
        CliProcess cli(folder_, service_.baseUrl(), {"update", "demo", "--quiet"}, AsNobody, outputs.path());
        const int status = cli.Wait();
        SetFoldersWritable(folder_, true);
        EXPECT_EQ(status, 1) << cli.Stderr();
        EXPECT_EQ(cli.Stdout().rfind(c.out, 0), 0u) << cli.Stdout();
        EXPECT_EQ(cli.Stderr(), "");
        EXPECT_EQ(Differences(before, TakeSnapshot(user_)), "");
    }
}

// A full disk (a file size limit, SIGXFSZ ignored) during a first backup: the update ends with the file
// it could not write, and every file there is whole and within the limit. The ledger is the first file a
// backup writes.
TEST_F(BackupFaultsTest, FullDiskEndsTheUpdateWithTheFileItCouldNotWrite) {
    const std::pair<rlim_t, const char*> cases[] = {{300, "archive.sqlite"}};
    for (const auto& [limit, file] : cases) {
        SCOPED_TRACE("file size limit " + std::to_string(limit));
        fs::remove_all(user_);
        const rlim_t bytes = limit;  // clang 14 cannot capture a structured binding
        const CliResult result = Update(service_, [bytes] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit cap{bytes, bytes};
            setrlimit(RLIMIT_FSIZE, &cap);
        });
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_EQ(result.out, "备份记录文件无法打开：" + (user_ / file).string() + "（File too large）\n");
        EXPECT_EQ(result.err, "");
        const Snapshot left = TakeSnapshot(user_);
        EXPECT_EQ(DamagedFiles(left), "");
        EXPECT_FALSE(left.contains("rest/user.xml"));
        for (const auto& [path, bytes] : left) {
            EXPECT_EQ(path.find(".tmp-"), std::string::npos) << path;
            EXPECT_LE(bytes.size(), limit) << path;
        }
        EXPECT_EQ(ReadFile(folder_ / "config.ini"), kConfig);
    }
}

// The first Ctrl+C abandons the request in flight: the update ends as interrupted (exit status 130), the
// slow answer replaces nothing and the album it belongs to keeps its pages.
TEST_F(BackupFaultsTest, FirstCtrlCAbandonsTheRequestInFlight) {
    // The photo's answer would take about 20 s at 10 bytes a second.
    DemoServiceProcess service({"--trickle", "10", "--only", std::string("zorbi.photos.getInfo=") + kPhoto});
    CliProcess cli(folder_, service.baseUrl(), {"update", "demo", "--quiet"});
    // The service logs an answer once it is sent; the photo before is the cue.
    for (int wait = 0; wait < 1000 && service.log().find("photo_id=10000100002") == std::string::npos; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto interrupted = std::chrono::steady_clock::now();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(), 130) << cli.Stderr();
    // Generous: the trickled answer alone would take twice as long.
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(10));
    const std::string out = cli.Stdout();
    EXPECT_EQ(out.rfind("已中断：共62张图片，已读取59张图片，其中", 0), 0u) << out;
    EXPECT_TRUE(out.ends_with("张图片包含原图地址和描述信息\n")) << out;
    EXPECT_EQ(Differences(good_, TakeSnapshot(user_)), "");
}

// Runs killed at random moments, or left to end, against services some of whose answers are garbage:
// after each, every cached answer is a service answer with stat "ok" and every page is whole; a clean
// update afterwards gives back the good backup.
TEST_F(BackupFaultsTest, KilledRunsAmongGarbageAnswersKeepEveryFileWhole) {
    std::vector<std::unique_ptr<DemoServiceProcess>> garbage;
    std::vector<const DemoServiceProcess*> services{&service_};
    for (const std::vector<std::string>& switches : std::vector<std::vector<std::string>>{
             {"--bad-answer", "html", "--only", "zorbi.photos.getInfo=10000700002"},
             {"--bad-answer", "noroot", "--only", "zorbi.albums.getPhotos=72157100009"},
             {"--fail-answer", "服务暂时不可用", "--only", "zorbi.photos.getInfo=10000300001"}}) {
        std::vector<std::string> slow{"--latency-ms", "1"};
        slow.insert(slow.end(), switches.begin(), switches.end());
        garbage.push_back(std::make_unique<DemoServiceProcess>(slow));
        services.push_back(garbage.back().get());
    }
    // The length of a first backup bounds the moments of the kills.
    fs::remove_all(user_);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Update(service_).status, 0);
    const long span =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
            .count();

    std::mt19937 random(20240611);  // fixed: a failing run can be replayed
    int killed = 0;
    for (int run = 0; run < 30; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        // Half the files go missing, so each run has answers and pages to write.
        for (const auto& [path, bytes] : TakeSnapshot(user_))
            if (random() % 2) fs::remove(user_ / path);
        const DemoServiceProcess& service = *services[static_cast<size_t>(run) % services.size()];
        CliProcess cli(folder_, service.baseUrl(), {"update", "demo", "--quiet"});
        // One run in four is left to end.
        if (random() % 4 != 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % (span + 1)));
            cli.Signal(SIGKILL);
        }
        const int status = cli.Wait();
        if (status == 128 + SIGKILL) ++killed;
        ASSERT_TRUE(status == 0 || status == 1 || status == 128 + SIGKILL) << status << cli.Stderr();
        ASSERT_EQ(DamagedFiles(TakeSnapshot(user_)), "");
    }
    RecordProperty("runs_killed", killed);

    const CliResult last = Update(service_);
    EXPECT_EQ(last.status, 0) << last.out << last.err;
    EXPECT_EQ(Differences(good_, TakeSnapshot(user_)), "");
}

// The downloader on its own: a body that trickles past the whole request's deadline fails, and the
// interrupt flag abandons a stalled request; neither touches the file.
TEST(RequestDeadlineTest, TrickleAndInterruptEndTheRequestAndKeepTheFile) {
    struct Case {
        const char* name;
        std::vector<std::string> switches;
        long deadline;  // seconds
        bool interrupt;
        HttpDownloader::Result::Outcome outcome;
    };
    // The list's answer trickles for about 17 s; a stalled one never ends.
    const Case cases[] = {
        {"trickle past the deadline",
         {"--trickle", "100", "--only", "zorbi.albums.getList"},
         2,
         false,
         HttpDownloader::Result::NetworkError},
        {"interrupted while stalled",
         {"--stall-after", "100"},
         300,
         true,
         HttpDownloader::Result::Interrupted},
    };
    const TempDir folder("request-deadline-test");
    const std::string target = folder / "list.xml";
    const std::string old = "<rsp stat=\"ok\"><albums/></rsp>";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(target, old);
        DemoServiceProcess service(c.switches);
        const ZorbiService zorbi(service.baseUrl(), service.baseUrl());
        HttpDownloader downloader;
        // An idle limit longer than the test: only the deadline or the flag may end the request.
        downloader.SetTimeouts(5, 60, c.deadline);
        downloader.engine().SetRetries(0);  // one attempt: its own deadline is what is measured
        std::atomic<bool> interrupt{false};
        downloader.SetInterruptFlag(&interrupt);
        std::thread setter;
        if (c.interrupt)
            setter = std::thread([&interrupt] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                interrupt = true;
            });
        const auto start = std::chrono::steady_clock::now();
        const HttpDownloader::Result result = downloader.Fetch(zorbi.AlbumListRequest("10001@N01"));
        if (setter.joinable()) setter.join();
        EXPECT_EQ(result.outcome, c.outcome);
        // Generous, against the seconds the answer would take.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(downloader.Download(target, zorbi.AlbumListRequest("10001@N01")), -1);
        EXPECT_EQ(ReadFile(target), old);
    }
}

}  // namespace
