// albumbrowser-cli with hostile texts and a config.ini it cannot read or write: nothing from the service
// drives the terminal, refusals exit with 1 and leave every file as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "cli_process.h"
#include "demo_service_process.h"
#include "temp_dir.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

const char kInvalidName[] = "用户名无效：不能为空、“.”或“..”，也不能包含“/”或控制字符。\n";

// Every file below `root` (the runner's own output files left out).
std::vector<std::string> FilesBelow(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.path().filename().string().rfind(".cli-", 0) != 0) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// Root reads and writes anything: the tool then runs as nobody.
void AsUserOtherThanRoot() {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
}

bool HasControls(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = text[i];
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) return true;
        if (c == 0xC2 && i + 1 < text.size() && (text[i + 1] & 0xE0) == 0x80) return true;  // C1
    }
    return false;
}

class CliSafetyTest : public testing::Test {
  protected:
    void SetUp() override { WriteFile(folder_ / "config.ini", config_); }
    CliResult Run(std::vector<std::string> args, const std::function<void()>& inChild = {},
                  const std::string& endpoint = "http://127.0.0.1:9") {
        return RunCli(folder_, endpoint, std::move(args), inChild);
    }

    TempDir temp_{"cli-safety-test"};
    const fs::path folder_{temp_.path()};
    const std::string config_ = "[proxy]\r\npassword=secret\r\n[users]\r\nuser0=demo\r\nuser1=a\x1b[2Jb\r\n";
};

TEST_F(CliSafetyTest, ControlCharactersFromTheServiceReachTheTerminalAsQuestionMarks) {
    const fs::path raw = folder_ / "raw";
    const auto answer = [&](const std::string& method, const std::string& value, const std::string& body) {
        WriteFile(raw / method / (value + ".xml"), body);
    };
    answer("zorbi.people.findByUsername", "esc",
           "<rsp stat='ok'><user id='esc-id'><username>esc</username></user></rsp>");
    answer("zorbi.albums.getList", "esc-id",
           "<rsp stat='ok'><albums><album id='t1' photos='0'><title>\x1b[31mred\x1b]0;title\x07 \xC2\x9B"
           "1m\x7F</title></album></albums></rsp>");
    answer("zorbi.albums.getPhotos", "t1", "<rsp stat='ok'/>");
    answer("zorbi.people.findByUsername", "fail",
           "<rsp stat='fail'><err code='1' msg='no\x1b[8m one'/></rsp>");
    DemoServiceProcess service({"--raw", raw.string()});

    const CliResult titled = Run({"update", "esc"}, {}, service.baseUrl());
    EXPECT_EQ(titled.status, 0) << titled.err;
    EXPECT_NE(titled.err.find("读取相册【?[31mred?]0;title? ?1m?】"), std::string::npos) << titled.err;
    const CliResult failed = Run({"update", "fail"}, {}, service.baseUrl());
    EXPECT_EQ(failed.out, "no?[8m one\n");
    const CliResult users = Run({"users"});
    EXPECT_EQ(users.out, "demo\na?[2Jb\n");
    for (const CliResult* result : {&titled, &failed, &users}) {
        EXPECT_FALSE(HasControls(result->out)) << result->out;
        EXPECT_FALSE(HasControls(result->err)) << result->err;
    }
}

TEST_F(CliSafetyTest, RefusedNamesAndUnknownPreviewsChangeNothing) {
    const std::vector<std::string> before = FilesBelow(folder_);
    for (const std::string& name : {std::string(300, 'a'), std::string("emoji😀")}) {
        const CliResult added = Run({"users", "add", name});
        EXPECT_EQ(added.status, 1);
        EXPECT_EQ(added.err, kInvalidName);
    }
    const CliResult preview = Run({"preview", "nobody-cached"});
    EXPECT_EQ(preview.status, 1);
    EXPECT_EQ(preview.out, "找不到用户信息。\n");
    EXPECT_EQ(FilesBelow(folder_), before);
    EXPECT_EQ(ReadFile(folder_ / "config.ini"), config_);
}

TEST_F(CliSafetyTest, DoubleDashEndsTheOptions) {
    EXPECT_EQ(Run({"users", "add", "--", "--quiet"}).status, 0);
    EXPECT_EQ(Run({"users", "add", "--", "-x"}).status, 0);
    EXPECT_EQ(Run({"users"}).out, "demo\na?[2Jb\n--quiet\n-x\n");
    const CliResult rebuild = Run({"rebuild", "--quiet", "--", "--quiet"});
    EXPECT_EQ(rebuild.status, 1);
    EXPECT_EQ(rebuild.out, "找不到用户信息。\n");  // "--quiet" taken as the user, who has no cache
    EXPECT_EQ(Run({"preview", "--no-alert", "--", "--album"}).out, "找不到用户信息。\n");
    EXPECT_EQ(Run({"update", "--", "a", "b"}).status, 2);
    EXPECT_EQ(Run({"users", "delete", "--", "--quiet"}).status, 0);
    EXPECT_EQ(Run({"users"}).out, "demo\na?[2Jb\n-x\n");
}

TEST_F(CliSafetyTest, ConfigThatCannotBeReadOrWrittenIsReportedAndKept) {
    const std::string unreadable = "无法读取设置文件config.ini（Permission denied），设置不会被保存。\n";
    // Readable, in a folder nobody may write to.
    fs::permissions(folder_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    CliResult result = Run({"users", "add", "bob"}, AsUserOtherThanRoot);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "无法保存设置文件config.ini（Permission denied）。\n");
    result = Run({"users", "delete", "demo"}, AsUserOtherThanRoot);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "无法保存设置文件config.ini（Permission denied）。\n");

    // Unreadable, in a folder anyone may write to: told once, never replaced.
    fs::permissions(folder_, fs::perms::all);
    fs::permissions(folder_ / "config.ini", fs::perms::none);
    result = Run({"users", "add", "bob"}, AsUserOtherThanRoot);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, unreadable);
    result = Run({"users"}, AsUserOtherThanRoot);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, unreadable);
    EXPECT_EQ(result.out, "");

    fs::permissions(folder_ / "config.ini", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ReadFile(folder_ / "config.ini"), config_);
    std::vector<std::string> files = FilesBelow(folder_);
    EXPECT_EQ(files, std::vector<std::string>{(folder_ / "config.ini").string()});
}

}  // namespace
