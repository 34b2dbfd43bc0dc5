// The desktop program's own options: --version and --help answer without a display, and the window runs
// in the folder --data-dir names.
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

// Runs albumbrowser in `folder` without a display, HOME and XDG_DATA_HOME below it.
GuiResult RunGui(const fs::path& folder, const std::vector<std::string>& args, bool untilFirstPage = false) {
    const fs::path out = folder / ".gui-out", err = folder / ".gui-err";
    ChildProcess gui(GUI_PATH, args,
                     {.stdoutFile = out, .stderrFile = err, .inChild = [&] {
                          for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                              unsetenv(name);
                          setenv("HOME", (folder / "home").c_str(), 1);
                          setenv("XDG_DATA_HOME", (folder / "home/data").c_str(), 1);
                          if (untilFirstPage) setenv("ALBUMBROWSER_EXIT_AFTER_FIRST_PAGE", "1", 1);
                          if (chdir(folder.c_str()) != 0) _exit(127);
                      }});
    const int status = gui.Wait();
    return {status, ReadFile(out), ReadFile(err)};
}

TEST(GuiProgramTest, OwnOptionsComeBeforeQtAndTheDisplay) {
    const TempDir temp("gui-program-test");
    const fs::path folder = temp.path();
    GuiResult result = RunGui(folder, {"--version"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "albumbrowser " ALBUM_VERSION "\n");
    // Qt's options are left for Qt, which is never started.
    result = RunGui(folder, {"-platform", "xcb", "--help"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.rfind("用法：albumbrowser [--data-dir ", 0), 0u) << result.out;
    result = RunGui(folder, {"--data-dir"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err.rfind("albumbrowser: ", 0), 0u) << result.err;
    EXPECT_FALSE(fs::exists(folder / "home"));

    // The preview page the window writes at start-up lands in its folder, made when missing, also when
    // GBK cannot name that folder.
    result = RunGui(folder, {"-platform", "offscreen", "--data-dir", "given/데이터-ø-😀"}, true);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(fs::exists(folder / "given/데이터-ø-😀/temp.htm"));
    EXPECT_FALSE(fs::exists(folder / "temp.htm"));
    EXPECT_FALSE(fs::exists(folder / "home"));
}

}  // namespace
