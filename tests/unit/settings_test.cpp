#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "catalogue/app_settings.h"
#include "platform/file_util.h"
#include "platform/ini_file.h"
#include "test_support.h"

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string Config() const { return dir / "config.ini"; }
};

TEST_F(SettingsTest, MissingFileGivesDefaults) {
    AppSettings settings(dir.path());
    EXPECT_EQ(settings.detailMode, 2);  // before the first load
    settings.Load();
    EXPECT_EQ(settings.proxyServer, "");
    EXPECT_EQ(settings.proxyPort, 80);
    EXPECT_EQ(settings.outputPath, dir.path());
    EXPECT_EQ(settings.detailMode, 0);
    EXPECT_EQ(settings.customFormat, "");
    EXPECT_EQ(settings.userCount, 0);
}

TEST_F(SettingsTest, ProfileLookupRules) {
    WriteFile(Config(),
              "; comment\r\n[Proxy]\r\n  SERVER = proxy.test  \r\nport=abc\r\nuser=\r\n"
              "[config]\npath=/data/photos/\ndetail= 7\nformat=" +
                  std::string(300, 'x') +
                  "\n"
                  "[config]\nskin=second section is ignored\n"
                  "[users]\nuser3=anna\nuser4=\nuser7=bob\nuser9=anna\nuser300=never\n");
    AppSettings settings(dir.path());
    settings.proxyUser = "kept";
    settings.Load();
    EXPECT_EQ(settings.proxyServer, "proxy.test");
    EXPECT_EQ(settings.proxyPort, 0);                 // not a number
    EXPECT_EQ(settings.proxyUser, "kept");            // empty key: field unchanged
    EXPECT_EQ(settings.outputPath, "/data/photos/");  // trailing separator kept on load
    EXPECT_EQ(settings.detailMode, 7);                // no range check
    EXPECT_EQ(settings.customFormat, std::string(255, 'x'));
    EXPECT_EQ(settings.skinFile, "");
    ASSERT_EQ(settings.userCount, 3);
    EXPECT_EQ(settings.userNames[0], "anna");
    EXPECT_EQ(settings.userNames[1], "bob");
    EXPECT_EQ(settings.userNames[2], "anna");
}

TEST_F(SettingsTest, SaveCompactsUsersKeepsUnknownKeysAndStripsSeparators) {
    WriteFile(Config(), "[extra]\r\nkeep=me\r\n[users]\r\nuser3=anna\r\nuser7=bob\r\nnote=mine\r\n");
    AppSettings settings(dir.path());
    settings.Load();
    settings.outputPath = "/data/photos//";
    settings.proxyPort = 3128;
    settings.Save();
    EXPECT_EQ(settings.outputPath, "/data/photos");

    const std::string text = ReadFile(Config());
    EXPECT_NE(text.find("[extra]\r\nkeep=me\r\n"), std::string::npos);
    EXPECT_NE(text.find("note=mine\r\n"), std::string::npos);
    EXPECT_NE(text.find("user0=anna\r\nuser1=bob\r\n"), std::string::npos);
    EXPECT_NE(text.find("user3=\r\nuser7=\r\n"), std::string::npos);
    EXPECT_EQ(text.find("user2="), std::string::npos);  // keys that did not change are not added
    EXPECT_EQ(text.find("user256"), std::string::npos);
    EXPECT_NE(text.find("[proxy]\r\nport=3128\r\n"), std::string::npos);
    EXPECT_NE(text.find("[config]\r\npath=/data/photos\r\n"), std::string::npos);

    AppSettings again(dir.path());
    again.Load();
    EXPECT_EQ(again.userCount, 2);
    EXPECT_EQ(again.userNames[1], "bob");
    EXPECT_EQ(again.proxyPort, 3128);
    EXPECT_EQ(again.outputPath, "/data/photos");
}

TEST_F(SettingsTest, RoundTripOfEveryField) {
    AppSettings settings(dir.path());
    settings.Load();
    settings.proxyServer = "127.0.0.1";
    settings.proxyUser = "u";
    settings.proxyPassword = "p w";
    settings.skinFile = G("/皮肤/a.u3");
    settings.detailMode = DetailNetwork;
    settings.customFormat = G("[url=$url]$title 第$no张[/url]\r\n");
    settings.pictureSizes = 0b1010;
    settings.connections = 16;
    settings.retries = 0;
    settings.rate = 20;
    settings.AddUser(G("张三"));
    settings.Save();
    EXPECT_NE(ReadFile(Config()).find("pictures=1,3\r\n"), std::string::npos);

    AppSettings loaded(dir.path());
    loaded.Load();
    EXPECT_EQ(loaded.proxyServer, "127.0.0.1");
    EXPECT_EQ(loaded.proxyPassword, "p w");
    EXPECT_EQ(loaded.skinFile, G("/皮肤/a.u3"));
    EXPECT_EQ(loaded.detailMode, 3);
    // One value is one line: a line break cannot reach the file as one.
    EXPECT_EQ(loaded.customFormat, G("[url=$url]$title 第$no张[/url]"));
    EXPECT_EQ(loaded.userNames[0], G("张三"));
    EXPECT_EQ(loaded.pictureSizes, 0b1010u);
    EXPECT_EQ(loaded.connections, 16);
    EXPECT_EQ(loaded.retries, 0);
    EXPECT_EQ(loaded.rate, 20);
}

TEST_F(SettingsTest, PictureSettingsAreReadWithinTheirRanges) {
    struct Case {
        const char* lines;
        unsigned sizes;
        int connections, retries, rate;
    } cases[] = {
        {"", 0, 4, 3, 0},  // the defaults: no pictures, as before
        {"pictures= 0 , 2\r\nconnections=1\r\nretries=10\r\nrate=5", 0b101, 1, 10, 5},
        {"pictures=2,2\r\nconnections=0\r\nretries=-1\r\nrate=-3", 0b100, 1, 0, 0},
        {"pictures=4\r\nconnections=99\r\nretries=11", 0, 16, 10, 0},  // a bad list saves nothing
        {"pictures=1,", 0, 4, 3, 0},
    };
    for (const Case& c : cases) {
        WriteFile(Config(), std::string("[config]\r\n") + c.lines + "\r\n");
        AppSettings settings(dir.path());
        settings.Load();
        EXPECT_EQ(settings.pictureSizes, c.sizes) << c.lines;
        EXPECT_EQ(settings.connections, c.connections) << c.lines;
        EXPECT_EQ(settings.retries, c.retries) << c.lines;
        EXPECT_EQ(settings.rate, c.rate) << c.lines;
    }
}

TEST_F(SettingsTest, ValueWithLineBreakCannotInjectKeys) {
    AppSettings settings(dir.path());
    settings.customFormat = "x\r\n[users]\r\nuser0=intruder";
    settings.Save();
    AppSettings loaded(dir.path());
    loaded.Load();
    EXPECT_EQ(loaded.userCount, 0);
}

TEST_F(SettingsTest, ConfigIsForItsOwnerOnlyWhateverModeItHad) {
    AppSettings settings(dir.path());
    settings.Save();
    struct stat info {};
    ASSERT_EQ(stat(Config().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    chmod(Config().c_str(), 0640);
    settings.Save();
    ASSERT_EQ(stat(Config().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(SettingsTest, UnwritableFolderIsReportedAndTheRecordKeepsItsValues) {
    AppSettings settings(dir / "missing-folder");
    settings.proxyServer = "kept";
    EXPECT_NE(settings.Save(), "");
    EXPECT_EQ(settings.proxyServer, "kept");
    EXPECT_FALSE(Exists(dir / "missing-folder/config.ini"));
}

TEST_F(SettingsTest, AddUserTrimsAndRefuses) {
    AppSettings settings(dir.path());
    const std::string invalid = G("用户名无效：不能为空、“.”或“..”，也不能包含“/”或控制字符。");
    EXPECT_EQ(settings.AddUser("  carol \t"), "");
    EXPECT_EQ(settings.userNames[0], "carol");
    for (const char* bad : {"", "   ", ".", "..", "a/b", "tab\there", "bell\x07"}) {
        EXPECT_EQ(settings.AddUser(bad), invalid) << bad;
    }
    EXPECT_EQ(settings.userCount, 1);
    EXPECT_NE(ReadFile(Config()).find("user0=carol"), std::string::npos);

    for (int i = 1; i < AppSettings::MaxUsers; ++i) ASSERT_EQ(settings.AddUser("u" + std::to_string(i)), "");
    EXPECT_EQ(settings.AddUser("one-too-many"), G("用户列表已满，最多256个用户。"));
    EXPECT_EQ(settings.userCount, AppSettings::MaxUsers);
}

TEST_F(SettingsTest, DeleteUserMovesLaterEntriesDown) {
    AppSettings settings(dir.path());
    for (const char* name : {"a", "b", "c"}) settings.AddUser(name);
    EXPECT_EQ(settings.FindUser("b"), 1);
    EXPECT_EQ(settings.DeleteUser(1), "");
    EXPECT_NE(settings.DeleteUser(2), "");
    EXPECT_EQ(settings.userCount, 2);
    EXPECT_EQ(settings.userNames[1], "c");
    AppSettings loaded(dir.path());
    loaded.Load();
    EXPECT_EQ(loaded.userCount, 2);
    EXPECT_EQ(loaded.userNames[1], "c");
}

TEST(IniFileTest, WritesKeepOtherLinesAndAddKeysAtTheEndOfTheirSection) {
    IniFile ini;
    ini.SetString("a", "x", "1");
    ini.SetString("b", "y", "2");
    ini.SetString("A", "z", "3");
    ini.SetString("a", "X", "4");
    EXPECT_EQ(ini.Text(), "[a]\r\nX=4\r\nz=3\r\n[b]\r\ny=2\r\n");
    EXPECT_EQ(ini.GetString(" A ", "x", "d"), "4");
    EXPECT_EQ(ini.GetString("a", "missing", "d"), "d");
    EXPECT_EQ(ini.GetInt("b", "y", 9), 2);
    EXPECT_EQ(ini.GetInt("b", "none", 9), 9);
}

TEST(IniFileTest, IntegersReadLikeAtoiAndSaturate) {
    IniFile ini;
    ini.SetString("s", "neg", "-12xyz");
    ini.SetString("s", "huge", "99999999999");
    ini.SetString("s", "empty", "");
    EXPECT_EQ(ini.GetInt("s", "neg", 0), -12);
    EXPECT_EQ(ini.GetInt("s", "huge", 0), 2147483647);
    EXPECT_EQ(ini.GetInt("s", "empty", 80), 80);
}

}  // namespace

namespace {

TEST(FileUtilTest, StaleTemporaryFilesOfDeadProcessesAreRemoved) {
    TempDir dir;
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);  // a process id that no longer runs
    const std::string dead = dir / ("a.xml.tmp-" + std::to_string(child) + "-3");
    const std::string alive = dir / ("b.xml.tmp-" + std::to_string(getpid()) + "-1");
    for (const std::string& name : {dead, alive, dir / "c.xml", dir / "d.tmp-x-1", dir / "e.tmp-12"})
        WriteFile(name, "x");
    RemoveStaleTemporaryFiles(dir.path());
    EXPECT_FALSE(Exists(dead));
    EXPECT_TRUE(Exists(alive));
    EXPECT_TRUE(Exists(dir / "c.xml"));
    EXPECT_TRUE(Exists(dir / "d.tmp-x-1"));
    EXPECT_TRUE(Exists(dir / "e.tmp-12"));
}

}  // namespace
