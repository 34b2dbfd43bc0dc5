#include "platform/program_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
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

// The folder is entered by its own bytes; the core names it by its GBK path only when that is exact,
// else as ".", and files below it still reach the system under the right name.
TEST(ProgramFolderTest, FolderIsEnteredAsNamedAndMadeForItsOwner) {
    TempDir dir;
    // Other tests run in this process after this one: back to where it started, and the umask too.
    struct Restore {
        std::string folder = OsCurrentDirectory();
        mode_t mask = umask(022);
        ~Restore() {
            umask(mask);
            if (chdir(folder.c_str()) != 0) std::abort();
        }
    } restore;
    struct Case {
        std::string folder;  // below dir, as the system names it
        bool exists;
        mode_t mode;
        bool gbkCanName;
    };
    const Case cases[] = {
        {"데이터-ø-😀/deeper", false, 0700, false},
        {"数据", false, 0700, true},
        {"shared", true, 0755, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const std::string folder = dir / c.folder;
        if (c.exists) ASSERT_EQ(mkdir(folder.c_str(), c.mode), 0);
        ASSERT_EQ(EnterProgramFolder(folder), "");
        EXPECT_EQ(OsCurrentDirectory(), folder);
        EXPECT_EQ(ModeOf(folder), c.mode);
        EXPECT_EQ(CurrentDirectory(), c.gbkCanName ? G(folder.c_str()) : ".");
        // A user folder and its cache, as a job makes them.
        ASSERT_TRUE(MakeDirectories(JoinPath(CurrentDirectory(), G("张三/rest"))));
        EXPECT_EQ(ModeOf(folder + "/张三"), 0700u);
        EXPECT_EQ(ModeOf(folder + "/张三/rest"), 0700u);
        const std::string page = WritePreviewFile(CurrentDirectory(), "page");
        EXPECT_EQ(AbsoluteOsPath(page), folder + "/temp.htm");
        EXPECT_EQ(ReadFile(folder + "/temp.htm"), "page");
    }
    EXPECT_EQ(ModeOf(dir / "데이터-ø-😀"), 0700u);
}

}  // namespace
