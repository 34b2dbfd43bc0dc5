// The desktop program's own options: --version and --help answer without a display, and it runs in the
// folder --data-dir names, or the one the rule chooses.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"
#include "temp_dir.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

struct GuiResult {
    int status;
    std::string out, err;
};

// Runs albumbrowser in `folder` with HOME and the XDG folders below `home`, without a display; extra
// variables as NAME=VALUE.
GuiResult RunGui(const fs::path& folder, const fs::path& home, const std::vector<std::string>& args,
                 const std::vector<std::string>& environment = {}) {
    const fs::path out = home / "gui.out", err = home / "gui.err";
    ChildProcess gui(GUI_PATH, args,
                     {.stdoutFile = out, .stderrFile = err, .inChild = [&] {
                          for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                              unsetenv(name);
                          setenv("HOME", home.c_str(), 1);
                          setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
                          setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
                          setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
                          setenv("XDG_RUNTIME_DIR", (home / "runtime").c_str(), 1);
                          for (const std::string& variable : environment)
                              putenv(const_cast<char*>(variable.c_str()));
                          if (chdir(folder.c_str()) != 0) _exit(127);
                      }});
    const int status = gui.Wait();
    return {status, ReadFile(out), ReadFile(err)};
}

class GuiProgramTest : public testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(folder_);
        fs::create_directories(home_ / "runtime");
        fs::permissions(home_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    }

    TempDir temp_{"gui-program-test"};
    const fs::path folder_ = fs::path(temp_.path()) / "cwd";
    const fs::path home_ = fs::path(temp_.path()) / "home";
};

TEST_F(GuiProgramTest, VersionAndHelpNeedNoDisplay) {
    GuiResult result = RunGui(folder_, home_, {"--version"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "albumbrowser " ALBUM_VERSION "\n");
    // Qt's options are left alone; the platform is never loaded.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"-platform", "xcb", "-h"}}) {
        result = RunGui(folder_, home_, args);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out.rfind("用法：albumbrowser [--data-dir ", 0), 0u) << result.out;
        EXPECT_EQ(result.err, "");
    }
    result = RunGui(folder_, home_, {"--data-dir"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err.rfind("albumbrowser: ", 0), 0u) << result.err;
    EXPECT_TRUE(fs::is_empty(folder_));
    EXPECT_FALSE(fs::exists(home_ / "data/albumbrowser"));
}

// The preview page the window writes at start-up shows where it runs: temp.htm lands in its folder.
TEST_F(GuiProgramTest, RunsInTheFolderGivenOrChosen) {
    const std::vector<std::string> offscreen = {"-platform", "offscreen"};
    const std::vector<std::string> untilFirstPage = {"ALBUMBROWSER_EXIT_AFTER_FIRST_PAGE=1"};
    struct Case {
        const char* name;
        std::vector<std::string> options;
        fs::path expected;
    };
    const Case cases[] = {
        {"--data-dir, relative, made", {"--data-dir", "given/new"}, folder_ / "given/new"},
        {"--data-dir=DIR", {"--data-dir=" + (home_ / "elsewhere").string()}, home_ / "elsewhere"},
        {"no config.ini in cwd: the XDG data folder", {}, home_ / "data/albumbrowser"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = offscreen;
        args.insert(args.end(), c.options.begin(), c.options.end());
        const GuiResult result = RunGui(folder_, home_, args, untilFirstPage);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_TRUE(fs::exists(c.expected / "temp.htm"));
        EXPECT_FALSE(fs::exists(folder_ / "temp.htm"));
    }
    // A config.ini in cwd keeps it the folder, as before.
    WriteFile(folder_ / "config.ini", "[users]\r\nuser0=demo\r\n");
    EXPECT_EQ(RunGui(folder_, home_, offscreen, untilFirstPage).status, 0);
    EXPECT_TRUE(fs::exists(folder_ / "temp.htm"));
}

}  // namespace
