// Pictures saved by albumbrowser-cli against zorbi-demo-service: every saved file compared byte for
// byte with what the service serves, through resumes, rate limits, answers that are no pictures and
// runs killed part way.
#include "jobs/picture_backup.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_process.h"
#include "core_doubles.h"
#include "demo_service_process.h"
#include "net/http_downloader.h"
#include "platform/codepage.h"
#include "temp_dir.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

const char* const kSizeNames[] = {"small", "medium", "big", "large"};
constexpr size_t kListedPhotos = 59;

struct Photo {
    std::string id, dir, filename;
};

// The listed photos as the service's cached album answers name them.
std::vector<Photo> ListedPhotos(const fs::path& user) {
    std::vector<Photo> photos;
    const std::regex photo(R"re(<photo id="(\d+)" dir="(\d+)" filename="([^"]+)")re");
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(user / "rest/albums", ignored)) {
        const std::string answer = ReadFile(entry.path());
        for (std::sregex_iterator it(answer.begin(), answer.end(), photo), end; it != end; ++it)
            photos.push_back({(*it)[1], (*it)[2], (*it)[3]});
    }
    return photos;
}

std::string PictureAddress(const std::string& base, const Photo& photo, int size) {
    return base + "/" + photo.dir + "/" + photo.filename + "/" + kSizeNames[size] + ".jpg";
}

std::string LocalPath(const Photo& photo, int size) {
    return std::string("pictures/") + kSizeNames[size] + "/" + photo.id + ".jpg";
}

// The bytes the service serves, fetched from an instance of its own so that the log of the service
// under test only holds the tool's requests.
class ServedPictures {
  public:
    explicit ServedPictures(int kb) : service_({"--picture-kb", std::to_string(kb)}) {}

    const std::string& Bytes(const Photo& photo, int size) {
        const std::string address = PictureAddress(service_.baseUrl(), photo, size);
        auto found = cache_.find(address);
        if (found == cache_.end()) {
            const HttpDownloader::Result result = downloader_.Fetch(address);
            EXPECT_EQ(result.outcome, HttpDownloader::Result::Received) << address;
            found = cache_.emplace(address, result.body).first;
        }
        return found->second;
    }

  private:
    DemoServiceProcess service_;
    HttpDownloader downloader_;
    std::map<std::string, std::string> cache_;
};

// Every file under USER/pictures except failed.txt, relative to USER.
std::set<std::string> PictureFiles(const fs::path& user) {
    std::set<std::string> files;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(user / "pictures", ignored))
        if (entry.is_regular_file() && entry.path().filename() != "failed.txt")
            files.insert(fs::relative(entry.path(), user).string());
    return files;
}

// What differs from a complete backup of these sizes: missing or wrong pictures, and any other file
// (a .part left over, a picture of a size not asked for) but the sidecar beside a picture.
std::string BackupProblems(const fs::path& user, const std::vector<Photo>& photos,
                           const std::vector<int>& sizes, ServedPictures& served) {
    std::string text;
    std::set<std::string> others = PictureFiles(user);
    for (const Photo& photo : photos)
        for (int size : sizes) {
            const std::string path = LocalPath(photo, size);
            others.erase(path);
            if (fs::exists(user / path)) others.erase(path + ".xmp");
            if (!fs::exists(user / path))
                text += " missing:" + path;
            else if (ReadFile(user / path) != served.Bytes(photo, size))
                text += " differs:" + path;
        }
    for (const std::string& path : others) text += " other:" + path;
    return text;
}

// Present .jpg files whose bytes are not the service's; anything else may be there.
std::string WrongPictures(const fs::path& user, const std::vector<Photo>& photos, ServedPictures& served) {
    std::string text;
    for (const Photo& photo : photos)
        for (int size = 0; size < 4; ++size) {
            const std::string path = LocalPath(photo, size);
            if (fs::exists(user / path) && ReadFile(user / path) != served.Bytes(photo, size))
                text += " " + path;
        }
    return text;
}

size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

std::string Summary(int fetched, int present, int failed) {
    return "；图片：新下载" + std::to_string(fetched) + "张，已有" + std::to_string(present) + "张，失败" +
           std::to_string(failed) + "张\n";
}

// The statuses the service's log gives for requests of one address, in order.
std::vector<std::string> StatusesOf(const std::string& log, const std::string& path) {
    std::vector<std::string> statuses;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (line.find("\"GET " + path + "\" ") != std::string::npos)
            statuses.push_back(line.substr(line.rfind(' ') + 1));
    return statuses;
}

// The failed.txt lines of these sizes of every photo, all with one reason.
std::multiset<std::string> FailedEntries(const std::vector<Photo>& photos, const std::string& base,
                                         const std::vector<int>& sizes, const std::string& reason) {
    std::multiset<std::string> lines;
    for (const Photo& photo : photos)
        for (int size : sizes)
            lines.insert(photo.id + "\t" + PictureAddress(base, photo, size) + "\t" + reason);
    return lines;
}

// failed.txt's lines, without their line breaks.
std::multiset<std::string> FailedLines(const fs::path& user) {
    std::multiset<std::string> lines;
    std::istringstream text(ReadFile(user / "pictures/failed.txt"));
    for (std::string line; std::getline(text, line);) lines.insert(line.substr(0, line.size() - 1));
    return lines;
}

class PictureBackupTest : public testing::Test {
  protected:
    // Retries are off unless the test is about them.
    void Configure(int detail, const std::string& pictures, int retries = 0) {
        std::string config = "[config]\r\ndetail=" + std::to_string(detail) +
                             "\r\nretries=" + std::to_string(retries) + "\r\n";
        if (!pictures.empty()) config += "pictures=" + pictures + "\r\n";
        WriteFile(folder_ / "config.ini", config + "[users]\r\nuser0=demo\r\n");
    }

    CliResult Update(const DemoServiceProcess& service, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"update", "demo", "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunCli(folder_, service.baseUrl(), args);
    }

    // The listed photos, once an update has cached the album answers.
    std::vector<Photo> Photos() {
        std::vector<Photo> photos = ListedPhotos(user_);
        EXPECT_EQ(photos.size(), kListedPhotos);
        return photos;
    }

    TempDir temp_{"picture-backup-test"};
    const fs::path folder_{temp_.path()};
    const fs::path user_ = folder_ / "demo";
};

// A first backup saves every listed photo's picture of the chosen sizes as the service serves it, and
// the pages of those sizes link the copies; a second run finds them all and asks for none.
TEST_F(PictureBackupTest, FirstBackupSavesEveryPictureAndSecondFetchesNone) {
    struct Case {
        const char* name;
        std::string configured;
        std::vector<std::string> args;
        std::vector<int> sizes;
    };
    const Case cases[] = {
        {"two sizes from the settings", "0,2", {}, {0, 2}},
        {"one size from the command line, one connection",
         "",
         {"--pictures", "3", "--connections", "1"},
         {3}},
    };
    ServedPictures served(12);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(user_);
        Configure(3, c.configured);
        DemoServiceProcess service({"--picture-kb", "12"});
        const int saved = static_cast<int>(kListedPhotos * c.sizes.size());

        const CliResult first = Update(service, c.args);
        EXPECT_EQ(first.status, 0) << first.out << first.err;
        EXPECT_TRUE(first.out.ends_with(Summary(saved, 0, 0))) << first.out;
        const std::vector<Photo> photos = Photos();
        EXPECT_EQ(BackupProblems(user_, photos, c.sizes, served), "");
        EXPECT_FALSE(fs::exists(user_ / "pictures/failed.txt"));

        // Each album's page of a saved size links its photos' copies; the other sizes link none.
        std::set<std::string> albums;
        for (const auto& entry : fs::directory_iterator(user_ / "rest/albums"))
            albums.insert(entry.path().stem().string());
        for (const std::string& album : albums) {
            const std::string answer = ReadFile(user_ / "rest/albums" / (album + ".xml"));
            for (int size = 0; size < 4; ++size) {
                const std::string page = ReadFile(user_ / (album + "_" + std::to_string(size) + ".htm"));
                ASSERT_FALSE(page.empty()) << album << "_" << size;
                const bool saved = std::find(c.sizes.begin(), c.sizes.end(), size) != c.sizes.end();
                if (!saved) EXPECT_EQ(page.find("pictures/"), std::string::npos) << album << "_" << size;
                for (const Photo& photo : photos)
                    if (saved && answer.find("\"" + photo.id + "\"") != std::string::npos)
                        EXPECT_NE(page.find("'" + LocalPath(photo, size) + "'"), std::string::npos)
                            << album << "_" << size << " " << photo.id;
            }
        }

        const std::string logged = service.log();
        const CliResult second = Update(service, c.args);
        EXPECT_EQ(second.status, 0) << second.out << second.err;
        EXPECT_TRUE(second.out.ends_with(Summary(0, saved, 0))) << second.out;
        EXPECT_EQ(service.log().substr(logged.size()).find(".jpg"), std::string::npos);
        EXPECT_EQ(BackupProblems(user_, photos, c.sizes, served), "");
    }
}

// A .part that a killed run left is continued by range, or fetched again whole, in the same run, from
// a service that ignores ranges or answers a range that does not continue it; either way the picture
// ends as the service serves it.
TEST_F(PictureBackupTest, PartLeftBehindIsResumed) {
    struct Case {
        const char* name;
        std::vector<std::string> switches;
        double kept;  // the part of the picture's bytes the .part holds
        std::vector<std::string> statuses;
    };
    const Case cases[] = {
        {"first half, by range", {}, 0.5, {"206"}},
        {"first half, ranges ignored", {"--no-range"}, 0.5, {"200"}},
        {"a few bytes, by range", {}, 0.01, {"206"}},
        {"every byte, not yet renamed", {}, 1.0, {"416", "200"}},
        {"a range from elsewhere", {"--wrong-range"}, 0.5, {"206", "200"}},
    };
    ServedPictures served(16);
    Configure(1, "2");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> switches{"--picture-kb", "16"};
        switches.insert(switches.end(), c.switches.begin(), c.switches.end());
        DemoServiceProcess service(switches);
        fs::remove_all(user_);
        ASSERT_EQ(Update(service).status, 0);
        const std::vector<Photo> photos = Photos();
        const Photo& photo = photos.at(7);
        const fs::path picture = user_ / LocalPath(photo, 2);
        const std::string bytes = ReadFile(picture);
        ASSERT_EQ(bytes, served.Bytes(photo, 2));
        fs::remove(picture);
        WriteFile(picture.string() + ".part", bytes.substr(0, static_cast<size_t>(bytes.size() * c.kept)));

        const std::string logged = service.log();
        const CliResult result = Update(service);
        EXPECT_EQ(result.status, 0) << result.out << result.err;
        EXPECT_TRUE(result.out.ends_with(Summary(1, kListedPhotos - 1, 0))) << result.out;
        EXPECT_EQ(BackupProblems(user_, photos, {2}, served), "");
        const std::string log = service.log().substr(logged.size());
        EXPECT_EQ(StatusesOf(log, "/" + photo.dir + "/" + photo.filename + "/big.jpg"), c.statuses) << log;
        EXPECT_EQ(CountOf(log, ".jpg"), c.statuses.size()) << log;
    }
}

// A picture is stored only when whole: answers that are cut without the transfer failing are refused,
// named in failed.txt and make the tool exit 3; a later run completes them from their .part files.
TEST_F(PictureBackupTest, CutPicturesAreRefusedUntilAWholeRun) {
    ServedPictures served(8);
    Configure(1, "0");
    // 206 with the first 100 bytes; no Content-Length and the connection closed half way.
    for (const char* cut : {"--cut-pictures", "--cut-unsized-pictures"}) {
        SCOPED_TRACE(cut);
        fs::remove_all(user_);
        DemoServiceProcess cutting({"--picture-kb", "8", cut});
        // With its progress, which says the pictures tried were not stored.
        const CliResult result = RunCli(folder_, cutting.baseUrl(), {"update", "demo"});
        EXPECT_EQ(result.status, 3) << result.out << result.err;
        EXPECT_TRUE(result.out.ends_with(Summary(0, 0, kListedPhotos))) << result.out;
        EXPECT_NE(result.err.find("，其中" + std::to_string(kListedPhotos) + "张失败\n"), std::string::npos);
        EXPECT_EQ(FailedLines(user_), FailedEntries(Photos(), cutting.baseUrl(), {0}, "incomplete"));
        for (const std::string& path : PictureFiles(user_)) EXPECT_TRUE(path.ends_with(".part")) << path;

        DemoServiceProcess whole({"--picture-kb", "8"});
        const CliResult completed = Update(whole);
        EXPECT_EQ(completed.status, 0) << completed.out << completed.err;
        EXPECT_TRUE(completed.out.ends_with(Summary(kListedPhotos, 0, 0))) << completed.out;
        EXPECT_EQ(BackupProblems(user_, Photos(), {0}, served), "");
        EXPECT_FALSE(fs::exists(user_ / "pictures/failed.txt"));
        EXPECT_EQ(CountOf(whole.log(), "\" 206"), kListedPhotos);  // resumed, not fetched again
    }
}

// A service that answers 429 with Retry-After beyond its rate: the tool waits and ends with every
// picture and no failure.
TEST_F(PictureBackupTest, RateLimitedServiceGivesEveryPicture) {
    ServedPictures served(4);
    Configure(1, "0", 3);
    DemoServiceProcess service({"--picture-kb", "4", "--rate-limit", "20", "--retry-after", "1"});
    const CliResult result = Update(service);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_TRUE(result.out.ends_with(Summary(kListedPhotos, 0, 0))) << result.out;
    EXPECT_EQ(BackupProblems(user_, Photos(), {0}, served), "");
    EXPECT_FALSE(fs::exists(user_ / "pictures/failed.txt"));
    // The limit was reached, so the waiting was tried.
    EXPECT_NE(service.log().find("[429 answers: "), std::string::npos);
}

// Pictures answered with HTML pages are not kept: failed.txt names each with its address, the tool
// exits 3. A good run of one size clears that size's entries and keeps the others; a good run of both
// removes the list.
TEST_F(PictureBackupTest, HtmlPicturesAreListedAsFailedUntilAGoodRun) {
    ServedPictures served(8);
    Configure(1, "0,2");
    DemoServiceProcess html({"--html-pictures"});
    const auto listed = [&](std::vector<int> sizes) {
        return FailedEntries(Photos(), html.baseUrl(), sizes, "not an image");
    };
    // Twice: a picture failed again replaces its line.
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE("failing run " + std::to_string(run));
        const CliResult result = Update(html);
        EXPECT_EQ(result.status, 3) << result.out << result.err;
        EXPECT_TRUE(result.out.ends_with(Summary(0, 0, 2 * kListedPhotos))) << result.out;
        EXPECT_EQ(PictureFiles(user_), std::set<std::string>{});
        EXPECT_EQ(FailedLines(user_), listed({0, 2}));
    }

    DemoServiceProcess good({"--picture-kb", "8"});
    const CliResult small = Update(good, {"--pictures", "0"});
    EXPECT_EQ(small.status, 0) << small.out << small.err;
    EXPECT_EQ(FailedLines(user_), listed({2}));

    const CliResult result = Update(good);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_TRUE(result.out.ends_with(Summary(kListedPhotos, kListedPhotos, 0))) << result.out;
    EXPECT_FALSE(fs::exists(user_ / "pictures/failed.txt"));
    EXPECT_EQ(BackupProblems(user_, Photos(), {0, 2}, served), "");
}

// A host that keeps refusing gets no more requests after kBusyHostRefusals pictures in a row: its
// other pictures are left for the next run as "服务器繁忙".
TEST_F(PictureBackupTest, BusyHostIsLeftForTheNextRun) {
    Configure(1, "0");
    DemoServiceProcess busy({"--picture-status", "503"});
    const CliResult result = Update(busy);
    EXPECT_EQ(result.status, 3) << result.out << result.err;
    EXPECT_TRUE(result.out.ends_with(Summary(0, 0, kListedPhotos))) << result.out;
    std::map<std::string, size_t> reasons;
    for (const std::string& line : FailedLines(user_)) ++reasons[line.substr(line.rfind('\t') + 1)];
    const size_t refused = kBusyHostRefusals;
    EXPECT_EQ(reasons, (std::map<std::string, size_t>{{"HTTP 503", refused},
                                                      {Utf8ToGbk("服务器繁忙"), kListedPhotos - refused}}));
    // Only the pictures asked for ahead (four connections, four each) went out after the last refusal.
    EXPECT_LE(CountOf(busy.log(), ".jpg"), refused + 16);
}

// An interrupt in the picture stage: the stage says it stopped, counts no unfinished picture, and the
// .part of the picture in flight keeps what arrived. The stage first removed the temporary files of
// dead processes from the picture folders.
TEST_F(PictureBackupTest, InterruptKeepsThePartAndCountsNothingUnfinished) {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);  // a process id that no longer runs
    for (const char* stale : {"pictures/failed.txt", "pictures/large/p1.jpg"})
        WriteFile(user_ / (stale + (".tmp-" + std::to_string(child) + "-1")), "x");

    DemoServiceProcess slow({"--picture-kb", "8", "--slow-pictures", "60000"});
    AlbumCatalogue catalogue;
    catalogue.albumCount = 1;
    AlbumInfo& album = catalogue.albums[0];
    album.photoCount = album.listedCount = 3;
    for (int j = 0; j < 3; ++j) {
        album.photos[j].id = "p" + std::to_string(j);
        album.photos[j].url = slow.baseUrl() + "/d" + std::to_string(j) + "/f";
    }
    SilentProgress progress;
    HttpDownloader downloader;
    downloader.SetInterruptFlag(&progress.interruptRequested);
    downloader.engine().SetConnections(1);
    const fs::path part = user_ / "pictures/small/p0.jpg.part";
    std::thread interrupter([&] {
        // Once the first half of the first picture is there (or after 20 s, to fail rather than hang).
        std::error_code error;
        for (int i = 0; i < 2000 && fs::file_size(part, error) != 4096; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        progress.interruptRequested = true;
    });
    const PictureBackupResult result =
        BackUpPictures(downloader, progress, catalogue, {true}, 1u, user_.string(), "", 4);
    interrupter.join();
    EXPECT_TRUE(result.interrupted);
    EXPECT_EQ(result.fresh + result.present + result.failed, 0);
    EXPECT_EQ(PictureFiles(user_), std::set<std::string>{"pictures/small/p0.jpg.part"});
    EXPECT_EQ(fs::file_size(part), 4096u);
}

// Runs killed at random moments of a picture backup never leave a picture that is not the service's;
// what they leave (.part files among them) is completed by the next whole run.
TEST_F(PictureBackupTest, KilledRunsLeaveNoWrongPicture) {
    ServedPictures served(24);
    Configure(1, "0,1");
    DemoServiceProcess service({"--picture-kb", "24", "--latency-ms", "3"});
    // The length of a whole backup bounds the moments of the kills.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Update(service).status, 0);
    const long span =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
            .count();
    const std::vector<Photo> photos = Photos();
    ASSERT_EQ(BackupProblems(user_, photos, {0, 1}, served), "");

    std::mt19937 random(20240612);  // fixed: a failing run can be replayed
    int killed = 0, parts = 0;
    std::string unexpected;  // runs that ended on their own other than with exit status 0
    for (int run = 0; run < 30; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        // Half the pictures go missing, so each run has pictures to fetch; .part files stay.
        for (const std::string& path : PictureFiles(user_))
            if (path.ends_with(".jpg") && random() % 2) fs::remove(user_ / path);
        CliProcess cli(folder_, service.baseUrl(), {"update", "demo", "--quiet"});
        std::this_thread::sleep_for(std::chrono::microseconds(random() % (span + 1)));
        cli.Signal(SIGKILL);
        const int status = cli.Wait();
        killed += status == 128 + SIGKILL;
        if (status != 0 && status != 128 + SIGKILL)
            unexpected += "run " + std::to_string(run) + ": " + std::to_string(status) + " " + cli.Stdout() +
                          cli.Stderr() + ReadFile(user_ / "pictures/failed.txt");
        ASSERT_EQ(WrongPictures(user_, photos, served), "");
        for (const std::string& path : PictureFiles(user_)) parts += path.ends_with(".part");
    }
    RecordProperty("runs_killed", killed);
    RecordProperty("parts_seen", parts);
    EXPECT_GT(killed, 0);
    EXPECT_EQ(unexpected, "");

    const CliResult last = Update(service);
    EXPECT_EQ(last.status, 0) << last.out << last.err << ReadFile(user_ / "pictures/failed.txt");
    EXPECT_TRUE(last.out.find("，失败0张\n") != std::string::npos) << last.out;
    EXPECT_EQ(BackupProblems(user_, photos, {0, 1}, served), "");
    EXPECT_FALSE(fs::exists(user_ / "pictures/failed.txt"));
}

}  // namespace
