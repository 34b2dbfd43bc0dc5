#include "platform/program_folder.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>

#include "platform/file_util.h"
#include "test_support.h"

namespace fs = std::filesystem;

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
        {"Chinese paths", {}, G("/数据"), false, G("/用户/数据"), "", "", G("/用户/数据/albumbrowser")},
    };
    for (const Case& c : cases) {
        const ProgramFolderPlaces places{c.given, c.current, c.currentHasConfig, c.xdg, c.home, c.account};
        EXPECT_EQ(ChooseProgramFolder(places), c.expected) << c.name;
    }
}

// The process's current directory and environment, restored after each test.
class ProgramFolderProcessTest : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"HOME", "XDG_DATA_HOME"})
            if (const char* value = getenv(name)) saved_[name] = value;
    }
    void TearDown() override {
        fs::current_path(start_);
        for (const char* name : {"HOME", "XDG_DATA_HOME"}) {
            if (saved_.count(name)) {
                setenv(name, saved_[name].c_str(), 1);
            } else {
                unsetenv(name);
            }
        }
    }

    const fs::path start_ = fs::current_path();
    std::map<std::string, std::string> saved_;
    TempDir temp_{"program-folder-test"};
};

TEST_F(ProgramFolderProcessTest, PlacesComeFromTheCurrentFolderAndTheEnvironment) {
    fs::current_path(temp_.path());
    setenv("XDG_DATA_HOME", "/xdg/数据", 1);
    unsetenv("HOME");
    ProgramFolderPlaces places = CurrentProgramFolderPlaces(std::nullopt);
    EXPECT_EQ(places.current, Utf8ToGbk(fs::current_path().string()));
    EXPECT_FALSE(places.currentHasConfig);
    EXPECT_EQ(places.xdgDataHome, G("/xdg/数据"));
    EXPECT_EQ(places.home, "");
    const passwd* account = getpwuid(getuid());
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(places.accountHome, account->pw_dir);

    WriteFile(fs::path(temp_.path()) / "config.ini", "");
    setenv("HOME", "/home/someone", 1);
    places = CurrentProgramFolderPlaces(G("别处"));
    EXPECT_TRUE(places.currentHasConfig);
    EXPECT_EQ(places.given, G("别处"));
    EXPECT_EQ(places.home, "/home/someone");
}

TEST_F(ProgramFolderProcessTest, EnteringMakesTheFolderOrSaysWhyNot) {
    const std::string folder = temp_ / "新/a/b";
    EXPECT_EQ(EnterProgramFolder(Utf8ToGbk(folder)), "");
    EXPECT_EQ(fs::current_path(), fs::path(folder));
    EXPECT_EQ(CurrentDirectory(), Utf8ToGbk(folder));
    EXPECT_EQ(EnterProgramFolder("."), "");  // an existing folder is entered as it is
    EXPECT_EQ(fs::current_path(), fs::path(folder));

    WriteFile(temp_ / "file", "x");
    const std::string blocked = temp_ / "file/sub";
    EXPECT_EQ(GbkToUtf8(EnterProgramFolder(Utf8ToGbk(blocked))),
              "无法创建文件夹：" + blocked + "（Not a directory）");
    EXPECT_EQ(fs::current_path(), fs::path(folder));  // a failure leaves the current directory
}

}  // namespace
