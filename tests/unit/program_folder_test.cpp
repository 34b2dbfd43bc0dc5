#include "platform/program_folder.h"

#include <gtest/gtest.h>

#include <optional>

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
        {"Chinese paths", {}, G("/数据"), false, G("/用户/数据"), "", "", G("/用户/数据/albumbrowser")},
    };
    for (const Case& c : cases) {
        const ProgramFolderPlaces places{c.given, c.current, c.currentHasConfig, c.xdg, c.home, c.account};
        EXPECT_EQ(ChooseProgramFolder(places), c.expected) << c.name;
    }
}

}  // namespace
