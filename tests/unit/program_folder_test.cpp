#include "platform/program_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>

#include "output/preview_page.h"
#include "platform/file_util.h"
#include "test_support.h"

namespace {

TEST(ProgramFolderTest, ChoosesGivenThenPortableThenXdgThenHome) {
    struct Case {
        const char* name;
        std::optional<std::string> given;
        std::string current;
        bool currentHasConfig;
        std::string xdg, home, account;
        std::string expected;
    };
    const Case cases[] = {
        {"option given", "/srv/backup", "/work", true, "/xdg", "/home/u", "", "/srv/backup"},
        {"option given relative", "backup", "/work", false, "", "/home/u", "", "backup"},
        {"cwd with config.ini", {}, "/work", true, "/xdg", "/home/u", "", "/work"},
        {"cwd unreadable with config.ini", {}, "", true, "/xdg", "/home/u", "", "."},
        {"cwd without config.ini, XDG set", {}, "/work", false, "/xdg", "/home/u", "", "/xdg/albumbrowser"},
        {"XDG relative", {}, "/work", false, "xdg", "/home/u", "", "/home/u/.local/share/albumbrowser"},
        {"XDG unset", {}, "/work", false, "", "/home/u", "", "/home/u/.local/share/albumbrowser"},
        {"HOME unset", {}, "/work", false, "", "", "/home/acct", "/home/acct/.local/share/albumbrowser"},
        {"no home at all", {}, "/work", false, "", "", "", "/work"},
        {"paths by their own bytes", {}, "/데이터", false, "/ø/😀", "", "", "/ø/😀/albumbrowser"},
    };
    for (const Case& c : cases) {
        const ProgramFolderPlaces places{c.given, c.current, c.currentHasConfig, c.xdg, c.home, c.account};
        EXPECT_EQ(ChooseProgramFolder(places), c.expected) << c.name;
    }
}

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The folder is entered by its own bytes and made for its owner; the core names it by its GBK path only
// when that is exact, else ".", and files below it still reach the system under the right name.
TEST(ProgramFolderTest, FolderIsEnteredAsNamedAndMadeForItsOwner) {
    TempDir dir;
    const mode_t mask = umask(022);
    ASSERT_EQ(mkdir((dir / "shared").c_str(), 0755), 0);  // an existing folder keeps its mode
    for (const std::string name : {"데이터-ø-😀/deeper", "数据", "shared"}) {
        SCOPED_TRACE(name);
        const std::string folder = dir / name;
        ASSERT_EQ(EnterProgramFolder(folder), "");
        EXPECT_EQ(CurrentDirectory(), name.starts_with("데") ? "." : G(folder.c_str()));
        EXPECT_EQ(ModeOf(folder), name == "shared" ? 0755u : 0700u);
        // A user folder and its cache, as a job makes them, and the preview page.
        ASSERT_TRUE(MakeDirectories(JoinPath(CurrentDirectory(), G("张三/rest"))));
        EXPECT_EQ(ModeOf(folder + "/张三/rest"), 0700u);
        EXPECT_EQ(AbsoluteOsPath(WritePreviewFile(CurrentDirectory(), "page")), folder + "/temp.htm");
        EXPECT_EQ(ReadFile(folder + "/temp.htm"), "page");
    }
    EXPECT_EQ(ModeOf(dir / "데이터-ø-😀"), 0700u);
    umask(mask);
    ASSERT_EQ(chdir("/"), 0);  // out of the folders the test removes
}

}  // namespace
