// The ledger of a backup through albumbrowser-cli against zorbi-demo-service: it survives kills, marks
// what the service removed, proves the backup (verify) and mends it (--repair), refuses a damaged
// ledger, reports (status) and finds photos across users (search).
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/zorbi_service.h"
#include "cli_process.h"
#include "demo_service_process.h"
#include "net/http_downloader.h"
#include "temp_dir.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

const char* const kSizeNames[] = {"small", "medium", "big", "large"};

// Every file below a folder (relative path -> bytes).
std::map<std::string, std::string> Files(const fs::path& root) {
    std::map<std::string, std::string> files;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(root, ignored))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), root).string()] = ReadFile(entry.path());
    return files;
}

// The lines of a text.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string IntegrityCheck(const fs::path& ledger) {
    sqlite3* db = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(ledger.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* check = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) == SQLITE_OK &&
            sqlite3_step(check) == SQLITE_ROW)
            result = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
        sqlite3_finalize(check);
    }
    sqlite3_close(db);
    return result;
}

class ArchiveTest : public testing::Test {
  protected:
    void SetUp() override { Configure("0,2"); }

    void Configure(const std::string& pictures, const std::string& users = "user0=demo\r\n") {
        WriteFile(folder_ / "config.ini",
                  "[config]\r\ndetail=3\r\nretries=0\r\npictures=" + pictures + "\r\n[users]\r\n" + users);
    }
    CliResult Cli(const DemoServiceProcess& service, std::vector<std::string> args) {
        return RunCli(folder_, service.baseUrl(), std::move(args));
    }
    CliResult Update(const DemoServiceProcess& service) {
        return Cli(service, {"update", "demo", "--quiet"});
    }
    CliResult Verify(const DemoServiceProcess& service, bool repair = false) {
        std::vector<std::string> args{"verify", "demo", "--quiet"};
        if (repair) args.push_back("--repair");
        return Cli(service, args);
    }
    nlohmann::json Status(const DemoServiceProcess& service) {
        const CliResult status = Cli(service, {"status", "demo", "--json"});
        EXPECT_EQ(status.status, 0) << status.out;
        return nlohmann::json::parse(status.out, nullptr, false);
    }

    // A picture's address at the service, from the photo lists in the cache.
    std::string PictureAddress(const DemoServiceProcess& service, const std::string& photo, int size) {
        const std::regex named("<photo id=\"" + photo + "\" dir=\"(\\d+)\" filename=\"([^\"]+)\"");
        for (const auto& [path, bytes] : Files(user_ / "rest/albums")) {
            std::smatch match;
            if (std::regex_search(bytes, match, named))
                return service.baseUrl() + "/" + match[1].str() + "/" + match[2].str() + "/" +
                       kSizeNames[size] + ".jpg";
        }
        ADD_FAILURE() << "no photo " << photo;
        return "";
    }
    // What the service serves at an address now.
    std::string Served(const std::string& address) {
        HttpDownloader downloader;
        downloader.engine().SetRetries(0);
        const HttpDownloader::Result result = downloader.Fetch(address);
        EXPECT_EQ(result.outcome, HttpDownloader::Result::Received) << address;
        return result.body;
    }

    TempDir temp_{"archive-test"};
    const fs::path folder_{temp_.path()};
    const fs::path user_ = folder_ / "demo";
};

// Runs killed at random moments of a backup with pictures leave a ledger that opens and passes SQLite's
// integrity check, and a backup whose only faults are files not fetched yet; a whole run afterwards
// leaves a backup that verifies clean.
TEST_F(ArchiveTest, KilledRunsLeaveALedgerThatVerifies) {
    Configure("0");
    DemoServiceProcess service({"--picture-kb", "16", "--latency-ms", "3"});
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Update(service).status, 0);
    const long span =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
            .count();

    std::mt19937 random(20240613);  // fixed: a failing run can be replayed
    int killed = 0;
    for (int run = 0; run < 30; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        // A fresh backup now and then, else one with half its pictures gone: each run has work.
        if (random() % 3 == 0) {
            fs::remove_all(user_);
        } else {
            for (const auto& [path, bytes] : Files(user_ / "pictures"))
                if (path.ends_with(".jpg") && random() % 2) fs::remove(user_ / "pictures" / path);
        }
        CliProcess cli(folder_, service.baseUrl(), {"update", "demo", "--quiet"});
        std::this_thread::sleep_for(std::chrono::microseconds(random() % (span + 1)));
        cli.Signal(SIGKILL);
        killed += cli.Wait() == 128 + SIGKILL;
        if (!fs::exists(user_ / "archive.sqlite")) continue;  // killed before the ledger was made
        ASSERT_EQ(IntegrityCheck(user_ / "archive.sqlite"), "ok");
        const CliResult verify = Verify(service);
        ASSERT_TRUE(verify.status == 0 || verify.status == 3) << verify.out << verify.err;
        const std::vector<std::string> lines = Lines(verify.out);
        ASSERT_FALSE(lines.empty());
        for (size_t i = 0; i + 1 < lines.size(); ++i)
            EXPECT_TRUE(lines[i].starts_with("missing ")) << lines[i];
        EXPECT_TRUE(lines.back().starts_with("校验完成：")) << verify.out;
    }
    RecordProperty("runs_killed", killed);
    EXPECT_GT(killed, 0);

    ASSERT_EQ(Update(service).status, 0);
    const CliResult verify = Verify(service);
    EXPECT_EQ(verify.status, 0) << verify.out;
    EXPECT_EQ(verify.out,
              "校验完成：59张图片完好，0张缺失，0张已损坏。缓存数据73个完好，0个缺失，0个无法读取。\n");
}

// An album and a photo the service no longer lists are marked removed and counted, and every file of
// theirs stays; a photo listed again loses its mark. Status reports it all as JSON.
TEST_F(ArchiveTest, RemovedOnTheServiceIsMarkedAndKept) {
    DemoServiceProcess full({"--picture-kb", "4"});
    ASSERT_EQ(Update(full).status, 0);
    const std::map<std::string, std::string> before = Files(user_);

    // Album 72157100003 holds three photos; 10000100002 is in the first album.
    const struct {
        std::vector<std::string> removed;
        std::string summaryEnd;
        int albumsRemoved, photosRemoved;
    } runs[] = {
        {{"--remove", "72157100003", "--remove", "10000100002"},
         "；服务器上已删除4张照片（本地保留）\n",
         1,
         4},
        {{"--remove", "72157100003"}, "失败0张\n", 1, 3},  // the photo is back; nothing newly removed
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.summaryEnd);
        std::vector<std::string> switches{"--picture-kb", "4"};
        switches.insert(switches.end(), run.removed.begin(), run.removed.end());
        DemoServiceProcess service(switches);
        const CliResult update = Update(service);
        EXPECT_EQ(update.status, 0) << update.out << update.err;
        EXPECT_TRUE(update.out.ends_with(run.summaryEnd)) << update.out;
        const std::map<std::string, std::string> after = Files(user_);
        for (const auto& [path, bytes] : before) EXPECT_TRUE(after.contains(path)) << path;

        const nlohmann::json status = Status(service);
        EXPECT_EQ(status["user"], "demo");
        EXPECT_EQ(status["albums"], 12);
        EXPECT_EQ(status["albums_removed"], run.albumsRemoved);
        EXPECT_EQ(status["photos"], 59);
        EXPECT_EQ(status["photos_removed"], run.photosRemoved);
        EXPECT_EQ(status["last_update"]["outcome"], "done");
        EXPECT_EQ(status["last_update"]["text"], update.out.substr(0, update.out.size() - 1));
        EXPECT_EQ(status["pictures"]["big"],
                  (nlohmann::json{{"wanted", true}, {"stored", 59}, {"missing", 0}, {"failed", 0}}));
        EXPECT_EQ(status["pictures"]["medium"]["wanted"], false);
        EXPECT_TRUE(status["last_verify"].is_null());
    }
    // A user without a ledger says so, and gets none.
    const CliResult none = Cli(full, {"status", "nobody", "--json"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "此用户还没有备份记录。\n");
    EXPECT_FALSE(fs::exists(folder_ / "nobody"));
}

// Verify finds a flipped byte, a cut picture, a deleted one, a garbled and a deleted answer, and takes a
// picture the ledger does not know yet; --repair brings each back to the service's bytes. Ctrl+C
// interrupts a repair.
TEST_F(ArchiveTest, VerifyFindsDamageAndRepairRestoresIt) {
    DemoServiceProcess service({"--picture-kb", "8"});
    ASSERT_EQ(Update(service).status, 0);
    CliResult verify = Verify(service);
    EXPECT_EQ(verify.status, 0) << verify.out;

    const ZorbiService zorbi(service.baseUrl(), service.baseUrl());
    const struct {
        std::string file, address;
        std::function<void(const fs::path&)> damage;
    } cases[] = {
        {"pictures/big/10000100002.jpg", PictureAddress(service, "10000100002", 2),
         [](const fs::path& file) {
             std::string bytes = ReadFile(file);
             bytes[bytes.size() / 2] ^= 1;
             WriteFile(file, bytes);
         }},
        {"pictures/small/10000100003.jpg", PictureAddress(service, "10000100003", 0),
         [](const fs::path& file) { fs::resize_file(file, fs::file_size(file) / 2); }},
        {"pictures/big/10000300001.jpg", PictureAddress(service, "10000300001", 2),
         [](const fs::path& file) { fs::remove(file); }},
        {"rest/albums/72157100004.xml", zorbi.AlbumPhotosRequest("72157100004"),
         [](const fs::path& file) { WriteFile(file, "<rsp stat=\"ok\"><album"); }},
        {"rest/photos/10000200001.xml", zorbi.PhotoInfoRequest("10000200001"),
         [](const fs::path& file) { fs::remove(file); }},
        // Stored before the ledger knew of it: taken as good, not repaired.
        {"pictures/medium/10000500001.jpg", "",
         [&](const fs::path& file) { WriteFile(file, Served(PictureAddress(service, "10000500001", 1))); }},
    };
    for (const auto& c : cases) c.damage(user_ / c.file);

    verify = Verify(service);
    EXPECT_EQ(verify.status, 3);
    EXPECT_EQ(verify.out,
              "unreadable rest/albums/72157100004.xml\n"
              "missing rest/photos/10000200001.xml\n"
              "changed pictures/big/10000100002.jpg\n"
              "incomplete pictures/small/10000100003.jpg\n"
              "missing pictures/big/10000300001.jpg\n"
              "校验完成：116张图片完好，1张缺失，2张已损坏。缓存数据71个完好，1个缺失，1个无法读取。\n");

    EXPECT_EQ(Status(service)["last_verify"]["problems"], 5);

    const CliResult repair = Verify(service, true);
    EXPECT_EQ(repair.status, 0) << repair.out << repair.err;
    EXPECT_TRUE(repair.out.ends_with("已修复5个文件，0个未能修复。\n")) << repair.out;
    const nlohmann::json recorded = Status(service)["last_verify"];
    EXPECT_EQ(recorded["kind"], "repair");
    EXPECT_EQ(recorded["problems"], 0);
    for (const auto& c : cases)
        if (!c.address.empty()) EXPECT_EQ(ReadFile(user_ / c.file), Served(c.address)) << c.file;
    verify = Verify(service);
    EXPECT_EQ(verify.status, 0) << verify.out;
    EXPECT_TRUE(verify.out.starts_with("校验完成：119张图片完好，0张缺失，0张已损坏。")) << verify.out;

    // A repair that Ctrl+C interrupts while a picture arrives ends with 130 and says so.
    fs::remove(user_ / cases[2].file);
    DemoServiceProcess slow({"--picture-kb", "8", "--slow-pictures", "60000"});
    // The ledger names pictures by the addresses the last update read.
    ASSERT_EQ(Cli(slow, {"update", "demo", "--quiet", "--pictures", ""}).status, 0);
    CliProcess cli(folder_, slow.baseUrl(), {"verify", "demo", "--quiet", "--repair"});
    const fs::path part = user_ / (cases[2].file + ".part");
    std::error_code error;
    for (int i = 0; i < 2000 && fs::file_size(part, error) != 4096; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(), 130);
    EXPECT_TRUE(
        cli.Stdout().starts_with("missing pictures/big/10000300001.jpg: not repaired\n已中断：校验完成："))
        << cli.Stdout();
}

// A damaged ledger ends every job on it with its text and exit status 1, and neither it nor any file of
// the backup changes.
TEST_F(ArchiveTest, DamagedLedgerEndsTheJobAndIsLeftAsItWas) {
    DemoServiceProcess service({"--picture-kb", "4"});
    ASSERT_EQ(Update(service).status, 0);
    const fs::path ledger = user_ / "archive.sqlite";
    std::string bytes = ReadFile(ledger);
    ASSERT_GT(bytes.size(), 4096u + 100u);
    WriteFile(ledger, bytes.replace(4096, 100, std::string(100, '\xFF')));
    const std::map<std::string, std::string> before = Files(user_);

    for (const char* command : {"update", "verify", "status"}) {
        SCOPED_TRACE(command);
        const CliResult result = Cli(service, {command, "demo"});
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.out.starts_with("备份记录文件无法打开：" + ledger.string() + "（")) << result.out;
        EXPECT_TRUE(Files(user_) == before);
    }
}

// Search finds photos by a Chinese text in every user's ledger, by the index (three characters or more)
// or row by row, and names the local picture; nothing found is status 1.
TEST_F(ArchiveTest, SearchFindsPhotosAcrossUsers) {
    Configure("2", "user0=demo\r\nuser1=big\r\n");
    DemoServiceProcess service({"--picture-kb", "4", "--big-albums", "2", "--big-photos", "3"});
    ASSERT_EQ(Update(service).status, 0);
    ASSERT_EQ(Cli(service, {"update", "big", "--quiet", "--pictures", ""}).status, 0);

    const struct {
        std::vector<std::string> args;
        int status;
        std::map<std::string, int> hits;  // per user
    } cases[] = {
        // Descriptions: demo's "这是我最喜欢的一张。" (seven photos), big's "第 N 个相册的第 M 张照片。".
        {{"张"}, 0, {{"big", 6}, {"demo", 7}}},
        {{"张", "--user", "big"}, 0, {{"big", 6}}},
        {{"最喜欢"}, 0, {{"demo", 7}}},
        {{"不存在的照片"}, 1, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"search"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliResult result = Cli(service, args);
        SCOPED_TRACE(c.args.front() + " " + result.out);
        EXPECT_EQ(result.status, c.status);
        std::map<std::string, int> hits;
        for (const std::string& line : Lines(result.out)) {
            std::vector<std::string> fields;
            std::istringstream in(line);
            for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
            ASSERT_EQ(fields.size(), 4u);
            ++hits[fields[0]];
            // demo keeps the big pictures; big keeps none and is named at the service.
            if (fields[0] == "demo")
                EXPECT_TRUE(fields[3].starts_with((user_ / "pictures/big/").string()) &&
                            fs::exists(fields[3]));
            else
                EXPECT_TRUE(fields[3].starts_with(service.baseUrl()) && fields[3].ends_with("/large.jpg"));
        }
        EXPECT_EQ(hits, c.hits);
    }
}

}  // namespace
