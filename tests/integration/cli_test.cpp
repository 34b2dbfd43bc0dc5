// albumbrowser-cli end to end: run in a folder of its own against the demo service.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <tuple>
#include <vector>

#include "cli_process.h"
#include "demo_service_process.h"
#include "platform/codepage.h"
#include "platform/folder_lock.h"
#include "platform/text_format.h"
#include "temp_dir.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

class CliTest : public testing::Test {
  protected:
    void SetUp() override { WriteConfig("[config]\r\ndetail=3\r\nretries=0\r\n[users]\r\nuser0=demo\r\n"); }

    void WriteConfig(const std::string& text) {
        std::ofstream(folder_ / "config.ini", std::ios::binary) << text;
    }

    CliResult Run(std::vector<std::string> args, const std::string& endpoint = "http://127.0.0.1:9") {
        return RunCli(folder_, endpoint, std::move(args));
    }

    TempDir temp_{"cli-test"};
    const fs::path folder_{temp_.path()};
};

// The summary line for the demo user after a complete detail-mode-3 update.
bool IsSummary(const std::string& out) {
    return out.rfind("共", 0) == 0 && out.find("张图片，已读取") != std::string::npos && out.back() == '\n';
}

TEST_F(CliTest, UpdateThenRebuildWithoutTheNetwork) {
    DemoServiceProcess service;
    const CliResult update = Run({"update", "demo"}, service.baseUrl());
    ASSERT_EQ(update.status, 0) << update.out << update.err;
    EXPECT_TRUE(IsSummary(update.out)) << update.out;
    EXPECT_NE(update.err.find("读取相册【"), std::string::npos);  // progress, one line each, in UTF-8
    EXPECT_TRUE(fs::exists(folder_ / "demo/rest/user.xml"));
    EXPECT_TRUE(fs::exists(folder_ / "demo/demo_index.htm"));
    const size_t photoFiles = std::distance(fs::directory_iterator(folder_ / "demo/rest/photos"), {});
    EXPECT_GT(photoFiles, 10u);
    service.Stop();

    const CliResult rebuild = Run({"rebuild", "demo", "--quiet"});
    EXPECT_EQ(rebuild.status, 0);
    EXPECT_EQ(rebuild.out, update.out);  // the same catalogue from the cache alone
    EXPECT_EQ(rebuild.err, "");

    const CliResult offline = Run({"update", "demo", "--quiet"});
    EXPECT_EQ(offline.status, 1);
    EXPECT_EQ(offline.out, "网络错误。请检查网络是否连通，HTTP代理是否设置正确!\n");
    EXPECT_TRUE(fs::exists(folder_ / "demo/rest/list.xml"));  // the cache survives a failed update
}

// Answers fetched ahead in parallel are read in catalogue order: the cache, the pages, the progress
// and the summary are what one request at a time gives.
TEST_F(CliTest, ParallelUpdateEqualsOneRequestAtATime) {
    DemoServiceProcess service({"--latency-ms", "5"});
    const auto run = [&](const char* connections) {
        fs::remove_all(folder_ / "demo");
        const CliResult result = Run({"update", "demo", "--connections", connections}, service.baseUrl());
        std::map<std::string, std::string> files;
        // The ledger's times and run numbers differ; what it records is compared by the archive tests.
        for (const auto& entry : fs::recursive_directory_iterator(folder_ / "demo"))
            if (entry.is_regular_file() && !IsRunRecord(entry.path()))
                files[entry.path().string()] = ReadFile(entry.path());
        return std::make_tuple(result.status, result.out, result.err, files);
    };
    const auto one = run("1");
    const auto four = run("4");
    EXPECT_EQ(std::get<0>(one), 0);
    EXPECT_TRUE(one == four);
    EXPECT_GT(std::get<3>(one).size(), 50u);
}

// Albums larger than any fixed table: every photo is read, pictured and paged.
TEST_F(CliTest, LargeAlbumsAreBackedUpWhole) {
    // Each picture is synced to the disk: in memory when the machine has such a folder, 3,000 take
    // a second rather than half a minute.
    const TempDir output("cli-test-big", ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "");
    WriteConfig("[config]\r\ndetail=1\r\nretries=0\r\npath=" + output.path() +
                "\r\n[users]\r\nuser0=big\r\n");
    DemoServiceProcess service({"--big-albums", "1", "--big-photos", "3000"});
    const CliResult update = Run({"update", "big", "--quiet", "--pictures", "0"}, service.baseUrl());
    EXPECT_EQ(update.status, 0) << update.err;
    EXPECT_EQ(update.out,
              "共3000张图片，已读取3000张图片，其中0张图片包含原图地址和描述信息；图片：新下载3000张，已有0张"
              "，失败0张\n");
    const fs::path user = fs::path(output.path()) / "big";
    size_t pictures = 0;
    for (const auto& entry : fs::directory_iterator(user / "pictures/small"))
        pictures += entry.path().extension() == ".jpg";
    EXPECT_EQ(pictures, 3000u);
    for (int size = 0; size < 4; ++size) {
        const std::string page = ReadFile(user / ("72157300001_" + std::to_string(size) + ".htm"));
        size_t entries = 0;  // one a line
        for (size_t at = page.find("\n<p>"); at != std::string::npos; at = page.find("\n<p>", at + 1))
            ++entries;
        EXPECT_EQ(entries, 3000u) << size;
    }
    EXPECT_NE(ReadFile(user / "72157300001_0.htm").find("pictures/small/30000103000.jpg"), std::string::npos);

    // A photo list of 12,000 photos is an answer of more than a megabyte.
    DemoServiceProcess larger({"--big-albums", "1", "--big-photos", "12000"});
    const CliResult list = Run({"update", "big", "--quiet", "--pictures", ""}, larger.baseUrl());
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, "共12000张图片，已读取12000张图片，其中0张图片包含原图地址和描述信息\n");
}

TEST_F(CliTest, JobsEndingWithoutTheirSummaryExitWithOne) {
    EXPECT_EQ(Run({"rebuild", "demo"}).out, "找不到用户信息。\n");
    EXPECT_EQ(Run({"rebuild", "demo"}).status, 1);
    DemoServiceProcess service;
    const CliResult unknown = Run({"update", "nobody"}, service.baseUrl());
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.out, "User not found\n");  // the service's own message
}

TEST_F(CliTest, ServiceErrorMessageInChineseIsPrintedInUtf8) {
    // The answer is UTF-8, the core holds GBK, the terminal gets UTF-8 again.
    WriteFile(folder_ / "raw/zorbi.people.findByUsername/wang.xml",
              "<?xml version=\"1.0\" encoding=\"utf-8\"?><rsp stat=\"fail\"><err code=\"1\" "
              "msg=\"用户不存在\"/></rsp>");
    DemoServiceProcess service({"--raw", (folder_ / "raw").string()});
    const CliResult result = Run({"update", "wang", "--quiet"}, service.baseUrl());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "用户不存在\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"update"},
        {"update", "demo", "extra"},
        {"preview", "demo", "--format", "1", "--template", "x"},
        {"preview", "demo", "--size", "4"},
        {"preview", "demo", "--format", "5"},
        {"preview", "demo", "--album", "-1"},
        {"preview", "demo", "--album", "two"},
        {"preview", "demo", "--album"},
        {"users", "rename", "a"},
    };
    for (const auto& args : bad) {
        const CliResult result = Run(args);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(args);
        EXPECT_NE(result.err.find("usage:"), std::string::npos);
    }
    EXPECT_EQ(Run({"--help"}).status, 0);
}

TEST_F(CliTest, PreviewWritesTheSamePageAsTheCore) {
    DemoServiceProcess service;
    ASSERT_EQ(Run({"update", "demo", "--quiet"}, service.baseUrl()).status, 0);
    // Pages checked by hand, the service's address written as @HOST@.
    const auto expected = [&](const std::string& name) {
        std::string page = ReadFile(std::string(ALBUM_TEST_DATA_DIR) + "/expected/" + name);
        ReplaceAll(page, "@HOST@", service.baseUrl());
        return page;
    };

    const std::string pageBefore = ReadFile(folder_ / "demo/72157100001_3.htm");
    ASSERT_FALSE(pageBefore.empty());
    const fs::path temp = folder_ / "temp.htm";
    CliResult preview = Run({"preview", "demo"}, service.baseUrl());
    EXPECT_EQ(preview.status, 0);
    EXPECT_EQ(preview.out, temp.string() + "\n");
    EXPECT_EQ(ReadFile(temp), expected("preview_album0_big.htm"));

    preview = Run({"preview", "demo", "--album", "1", "--size", "0", "--format", "1", "--no-alert"},
                  service.baseUrl());
    EXPECT_EQ(ReadFile(temp), expected("preview_album1_small_ubb.htm"));
    // A preview's rebuild leaves the report pages as a rebuild writes them, whatever the format shown.
    EXPECT_EQ(ReadFile(folder_ / "demo/72157100001_3.htm"), pageBefore);

    preview = Run({"preview", "demo", "--template", "第$no张 $url\r\n", "--size", "3"}, service.baseUrl());
    EXPECT_EQ(ReadFile(temp), expected("preview_template.htm"));

    preview = Run({"preview", "demo", "--album", "999"}, service.baseUrl());
    EXPECT_EQ(preview.status, 0);
    EXPECT_EQ(ReadFile(temp), expected("preview_no_album.htm"));

    WriteConfig("[config]\r\nformat=[$no]$title\r\n");
    preview = Run({"preview", "demo", "--format", "4"}, service.baseUrl());
    EXPECT_EQ(ReadFile(temp), expected("preview_own_format.htm"));
}

TEST_F(CliTest, PreviewWithoutACacheFindsNoUserAndWritesNothing) {
    const CliResult preview = Run({"preview", "stranger"});
    EXPECT_EQ(preview.status, 1);
    EXPECT_EQ(preview.out, "找不到用户信息。\n");
    EXPECT_FALSE(fs::exists(folder_ / "temp.htm"));
    EXPECT_FALSE(fs::exists(folder_ / "stranger"));
}

TEST_F(CliTest, UsersAddListAndDelete) {
    EXPECT_EQ(Run({"users", "add", "  张三 "}).status, 0);
    EXPECT_EQ(Run({"users"}).out, "demo\n张三\n");
    const CliResult refused = Run({"users", "add", "../x"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "用户名无效：不能为空、“.”或“..”，也不能包含“/”或控制字符。\n");
    EXPECT_EQ(Run({"users", "delete", "demo"}).status, 0);
    EXPECT_EQ(Run({"users"}).out, "张三\n");
    EXPECT_EQ(Run({"users", "delete", "demo"}).status, 1);
    EXPECT_NE(ReadFile(folder_ / "config.ini").find(Utf8ToGbk("user0=张三\r\nuser1=\r\n")),
              std::string::npos);
}

// Starts an update and waits until its progress shows `text`.
CliProcess StartUpdate(const fs::path& folder, const DemoServiceProcess& service, const std::string& user,
                       const std::string& text) {
    CliProcess cli(folder, service.baseUrl(), {"update", user});
    for (int i = 0; i < 400 && cli.Stderr().find(text) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return cli;
}

TEST_F(CliTest, CtrlCAbandonsAStalledDownloadAndTermEndsTheProgram) {
    DemoServiceProcess service({"--stall-after", "10"});
    {
        CliProcess cli = StartUpdate(folder_, service, "demo", "正在读取用户信息...");
        const auto start = std::chrono::steady_clock::now();
        cli.Signal(SIGINT);  // the request in flight is abandoned; the job ends as interrupted
        EXPECT_EQ(cli.Wait(), 130);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(cli.Stdout().rfind("已中断：共", 0), 0u) << cli.Stdout();
        EXPECT_FALSE(fs::exists(folder_ / "demo/rest/user.xml"));
    }
    {
        CliProcess cli = StartUpdate(folder_, service, "demo", "正在读取用户信息...");
        cli.Signal(SIGTERM);
        EXPECT_EQ(cli.Wait(), 130);
    }
}

// Ctrl+C while the pictures download: no success, and the failed list of an earlier run keeps every
// picture that is still missing.
TEST_F(CliTest, CtrlCDuringThePictureStageEndsAsInterrupted) {
    WriteConfig("[config]\r\ndetail=1\r\npictures=0\r\nretries=0\r\n");
    {
        DemoServiceProcess html({"--html-pictures"});
        ASSERT_EQ(Run({"update", "demo", "--quiet"}, html.baseUrl()).status, 3);
    }
    const std::string failed = ReadFile(folder_ / "demo/pictures/failed.txt");
    DemoServiceProcess slow({"--latency-ms", "100"});
    CliProcess cli = StartUpdate(folder_, slow, "demo", "已下载1/");
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(), 130);
    EXPECT_EQ(cli.Stdout().rfind("已中断：共", 0), 0u) << cli.Stdout();
    EXPECT_NE(cli.Stdout().find("；图片：新下载"), std::string::npos);
    const std::string kept = ReadFile(folder_ / "demo/pictures/failed.txt");
    std::istringstream lines(failed);
    int missing = 0;
    for (std::string line; std::getline(lines, line);) {
        if (fs::exists(folder_ / "demo/pictures/small" / (line.substr(0, line.find('\t')) + ".jpg")))
            continue;
        ++missing;
        EXPECT_NE(kept.find(line + "\n"), std::string::npos) << line;
    }
    EXPECT_GT(missing, 0);
}

// Every file below the folder but the runner's outputs, with its bytes.
std::map<std::string, std::string> FilesBelow(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().filename().string().rfind(".cli-", 0) != 0)
            files[entry.path().string()] = ReadFile(entry.path());
    return files;
}

// While another process holds a user folder, every job on it ends at once naming that process and
// changes no file.
TEST_F(CliTest, JobsOnAUserFolderAnotherProcessHoldsChangeNothing) {
    WriteConfig("[config]\r\ndetail=3\r\nretries=0\r\n");
    DemoServiceProcess service;
    ASSERT_EQ(Run({"update", "demo", "--quiet"}, service.baseUrl()).status, 0);
    EXPECT_EQ(fs::status(folder_ / "demo/.lock").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ReadFile(folder_ / "demo/.lock"), "");  // emptied when let go
    const FolderLock held((folder_ / "demo").string());
    ASSERT_TRUE(held.held());
    const std::map<std::string, std::string> before = FilesBelow(folder_);
    const std::string logged = service.log();
    const std::string text =
        "此用户正在被另一个任务更新（进程" + std::to_string(getpid()) + "），请稍后再试。\n";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"update", "demo"}, {"rebuild", "demo"}, {"preview", "demo"}}) {
        const CliResult result = Run(args, service.baseUrl());
        EXPECT_EQ(result.status, 1) << args[0];
        EXPECT_EQ(result.out, text) << args[0];
    }
    EXPECT_EQ(FilesBelow(folder_), before);
    EXPECT_EQ(service.log(), logged);  // not one request
}

}  // namespace
