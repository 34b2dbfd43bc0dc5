// Where albumbrowser-cli keeps its files (-C, --data-dir, the current folder, the XDG data folder), and
// its command line: --version, --help and the usage errors.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_process.h"
#include "demo_service_process.h"
#include "temp_dir.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

class CliFolderTest : public testing::Test {
  protected:
    // Runs the tool in `folder_` with a HOME and XDG_DATA_HOME of this test's own (`xdg` empty: unset).
    CliResult Run(std::vector<std::string> args, const std::string& xdg = "",
                  const std::string& endpoint = "http://127.0.0.1:9") {
        const std::string home = home_.string();
        return RunCli(folder_, endpoint, std::move(args), [home, xdg] {
            setenv("HOME", home.c_str(), 1);
            if (xdg.empty()) {
                unsetenv("XDG_DATA_HOME");
            } else {
                setenv("XDG_DATA_HOME", xdg.c_str(), 1);
            }
        });
    }

    // The files below the test's folders, the runner's own outputs left out.
    std::vector<std::string> Files() const {
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(temp_.path()))
            if (entry.path().filename().string().rfind(".cli-", 0) != 0)
                files.push_back(entry.path().string());
        std::sort(files.begin(), files.end());
        return files;
    }

    TempDir temp_{"cli-folder-test"};
    const fs::path root_{temp_.path()};
    const fs::path folder_ = root_ / "cwd";
    const fs::path home_ = root_ / "home";
    void SetUp() override {
        fs::create_directories(folder_);
        fs::create_directories(home_);
    }
};

TEST_F(CliFolderTest, SettingsLiveInTheFolderTheRuleChooses) {
    const fs::path xdg = root_ / "xdg/新", data = root_ / "data", late = root_ / "late";
    const fs::path homeData = home_ / ".local/share/albumbrowser";
    const std::string demoConfig = "[users]\r\nuser0=demo\r\n";
    struct Case {
        const char* name;
        std::vector<std::string> options;
        bool afterCommand;
        std::string xdg;
        bool configInCwd;
        fs::path expected;
    };
    const Case cases[] = {
        {"-C relative, made", {"-C", "given/deeper"}, false, xdg, false, folder_ / "given/deeper"},
        {"--data-dir over cwd's config.ini", {"--data-dir", data}, false, xdg, true, data},
        {"--data-dir=DIR after the command", {"--data-dir=" + late.string()}, true, "", false, late},
        {"cwd with config.ini", {}, false, xdg, true, folder_},
        {"cwd without config.ini, fresh XDG_DATA_HOME", {}, false, xdg, false, xdg / "albumbrowser"},
        {"XDG_DATA_HOME relative", {}, false, "relative/xdg", false, homeData},
        {"XDG_DATA_HOME unset", {}, false, "", false, homeData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(folder_ / "config.ini");
        if (c.configInCwd) WriteFile(folder_ / "config.ini", demoConfig);
        const auto args = [&c](std::vector<std::string> command) {
            command.insert(c.afterCommand ? command.end() : command.begin(), c.options.begin(),
                           c.options.end());
            return command;
        };
        const CliResult added = Run(args({"users", "add", "alice"}), c.xdg);
        EXPECT_EQ(added.status, 0) << added.err;
        EXPECT_NE(ReadFile(c.expected / "config.ini").find("alice"), std::string::npos);
        const bool portable = c.expected == folder_;
        EXPECT_EQ(Run(args({"users"}), c.xdg).out, portable ? "demo\nalice\n" : "alice\n");
        // No file anywhere else; a config.ini in cwd that was passed over is left as it was.
        for (const std::string& file : Files()) {
            const bool inside = file.rfind(c.expected.string() + "/", 0) == 0;
            EXPECT_TRUE(inside || fs::is_directory(file) || file == (folder_ / "config.ini").string())
                << file;
        }
        if (c.configInCwd && !portable) {
            EXPECT_EQ(ReadFile(folder_ / "config.ini"), demoConfig);
        }
        fs::remove_all(portable ? folder_ / "config.ini" : c.expected);
    }
}

// Relative paths of config.ini mean the program's folder, wherever the tool is started.
TEST_F(CliFolderTest, RelativeOutputFolderIsBelowTheChosenFolder) {
    const fs::path data = root_ / "data";
    WriteFile(data / "config.ini", "[config]\r\npath=out\r\nretries=0\r\n[users]\r\nuser0=demo\r\n");
    DemoServiceProcess service;
    const CliResult update = Run({"-C", data.string(), "update", "demo", "--quiet"}, "", service.baseUrl());
    EXPECT_EQ(update.status, 0) << update.out << update.err;
    EXPECT_TRUE(fs::exists(data / "out/demo/demo_index.htm"));
    const CliResult preview = Run({"preview", "demo", "-C", data.string()});
    EXPECT_EQ(preview.status, 0) << preview.out;
    EXPECT_EQ(preview.out, (data / "out/temp.htm").string() + "\n");
    EXPECT_FALSE(fs::exists(folder_ / "out"));
}

// A folder GBK cannot name is used by its own bytes, not by a "?" rendering of them.
TEST_F(CliFolderTest, FolderIsUsedByItsOwnName) {
    const fs::path data = root_ / "데이터-ø-😀";
    WriteFile(data / "config.ini", "[config]\r\nretries=0\r\n");
    EXPECT_EQ(Run({"-C", data.string(), "users", "add", "demo"}).status, 0);
    EXPECT_EQ(Run({"-C", data.string(), "users"}).out, "demo\n");
    EXPECT_EQ(ReadFile(data / "config.ini"), "[config]\r\nretries=0\r\n[users]\r\nuser0=demo\r\n");

    DemoServiceProcess service;
    const CliResult update = Run({"-C", data.string(), "update", "demo", "--quiet"}, "", service.baseUrl());
    EXPECT_EQ(update.status, 0) << update.out << update.err;
    EXPECT_TRUE(fs::exists(data / "demo/demo_index.htm"));
    EXPECT_EQ(Run({"-C", data.string(), "preview", "demo"}).out, (data / "temp.htm").string() + "\n");
    for (const std::string& file : Files())
        EXPECT_TRUE(file.rfind(data.string(), 0) == 0 || file == folder_ || file == home_) << file;
    EXPECT_EQ(fs::status(data / "demo/rest/albums").permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(CliFolderTest, FolderThatCannotBeMadeIsAnError) {
    WriteFile(root_ / "file", "x");
    const std::string blocked = (root_ / "file/sub").string();
    CliResult result = Run({"-C", blocked, "users"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "无法创建文件夹：" + blocked + "（Not a directory）\n");
    result = Run({"users"}, blocked);  // as XDG_DATA_HOME
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "无法创建文件夹：" + blocked + "/albumbrowser（Not a directory）\n");
}

TEST_F(CliFolderTest, VersionHelpAndUsageErrorsTouchNoFolder) {
    const std::string xdg = (root_ / "xdg").string();
    const CliResult version = Run({"--version"}, xdg);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "albumbrowser-cli " ALBUM_VERSION "\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"-h"}, {"help"}, {"update", "demo", "--help"}}) {
        const CliResult help = Run(args, xdg);
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind("usage: albumbrowser-cli", 0), 0u) << help.out;
        EXPECT_NE(help.out.find("-C DIR or --data-dir DIR"), std::string::npos);
        EXPECT_EQ(help.err, "");
    }
    const std::string usage = Run({"--help"}, xdg).out;

    const std::vector<std::vector<std::string>> bad = {
        // Options without their values, an empty folder.
        {"-C"},
        {"update", "demo", "--data-dir"},
        {"preview", "demo", "--template"},
        {"--data-dir", "", "users"},
        // Unknown options and commands, an option of a command before it, words too many or missing.
        {"update", "demo", "--bogus"},
        {"--quiet", "update", "demo"},
        {"frobnicate"},
        {"update", "a", "b"},
        {"users", "add"},
        {"users", "add", "a", "b"},
        // Values out of range, options that exclude each other.
        {"update", "demo", "--connections", "17"},
        {"update", "demo", "--pictures", "4"},
        {"preview", "demo", "--format", "1", "--template", "x"},
    };
    for (const auto& args : bad) {
        const CliResult result = Run(args, xdg);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(result.err.rfind("albumbrowser-cli: ", 0), 0u) << result.err;
        EXPECT_TRUE(result.err.ends_with(usage)) << result.err;
        EXPECT_EQ(result.out, "");
    }
    const CliResult none = Run({}, xdg);
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, usage);
    EXPECT_EQ(Files(), (std::vector<std::string>{folder_.string(), home_.string()}));
}

}  // namespace
