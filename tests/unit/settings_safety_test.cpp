// What config.ini and the atomic writes promise: the file for its owner only, an unreadable file never
// replaced, untouched lines kept byte for byte, and modes that never come from an old file or a link.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "catalogue/app_settings.h"
#include "platform/file_util.h"
#include "test_support.h"

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

std::string Unreadable(int error) {
    return G("无法读取设置文件config.ini（") + std::strerror(error) + G("），设置不会被保存。");
}

// Runs the check as a user other than root when the test runs as root (root reads any file).
bool AsUserOtherThanRoot(const std::function<bool()>& check) {
    if (geteuid() != 0) return check();
    const pid_t child = fork();
    if (child == 0) _exit(setgid(65534) == 0 && setuid(65534) == 0 && check() ? 0 : 1);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(SettingsSafetyTest, ConfigThatCannotBeReadIsNeverReplaced) {
    const std::string config = "[proxy]\r\npassword=secret\r\n[users]\r\nuser0=anna\r\n";
    for (const bool directory : {true, false}) {
        SCOPED_TRACE(directory ? "a directory named config.ini" : "mode 000");
        TempDir dir;
        chmod(dir.path().c_str(), 0777);  // writable for whoever runs the check
        if (directory) {
            mkdir((dir / "config.ini").c_str(), 0755);
        } else {
            WriteFile(dir / "config.ini", config);
            chmod((dir / "config.ini").c_str(), 0);
        }
        const std::string expected = Unreadable(directory ? EISDIR : EACCES);
        EXPECT_TRUE(AsUserOtherThanRoot([&] {
            AppSettings settings(dir.path());
            settings.proxyServer = "kept";
            bool ok = settings.Load() == expected && settings.proxyServer == "kept" &&
                      settings.outputPath == dir.path();
            ok = ok && settings.AddUser("bob") == expected && settings.userCount == 0;
            ok = ok && settings.Save() == expected;
            return ok && settings.DeleteUser(0) == expected;
        }));
        if (!directory) {
            chmod((dir / "config.ini").c_str(), 0600);
            EXPECT_EQ(ReadFile(dir / "config.ini"), config);
            AppSettings later(dir.path());
            EXPECT_EQ(later.Load(), "");
            EXPECT_EQ(later.userNames[0], "anna");
        } else {
            EXPECT_TRUE(S_ISDIR(ModeOf(dir / "config.ini")));
        }
    }
}

TEST(SettingsSafetyTest, FailedSavesAreReportedAndTheUserListStaysAsTheFileHasIt) {
    TempDir dir;
    AppSettings settings(dir / "missing-folder");
    const std::string expected = G("无法保存设置文件config.ini（") + std::strerror(ENOENT) + G("）。");
    EXPECT_EQ(settings.Save(), expected);
    EXPECT_EQ(settings.AddUser("bob"), expected);
    EXPECT_EQ(settings.userCount, 0);
}

// Only the keys that changed are written; every other byte stays, long values and odd spacing included.
TEST(SettingsSafetyTest, SaveWritesOnlyWhatChanged) {
    const std::string longPassword(300, 'p'), longFormat(400, 'f');
    const std::string head = "; notes\r\n[proxy]\r\nserver = host \r\npassword=" + longPassword + "\r\n";
    const std::string tail = "[config]\r\npath=\r\nformat=" + longFormat + "\r\n[users]\r\nuser0=anna\r\n";
    struct Case {
        const char* what;
        std::string before;
        std::function<void(AppSettings&)> change;
        std::string after;
    };
    const std::vector<Case> cases = {
        {"nothing", head + tail, [](AppSettings&) {}, head + tail},
        {"the port", head + tail, [](AppSettings& s) { s.proxyPort = 3128; }, head + "port=3128\r\n" + tail},
        {"a new user", head + tail, [](AppSettings& s) { EXPECT_EQ(s.AddUser("bob"), ""); },
         head + tail + "user1=bob\r\n"},
        // The dialog hands back the start-up folder it was shown for an empty path.
        {"the default path set back", head + tail, [](AppSettings& s) { s.outputPath = s.startupDirectory; },
         head + tail},
        {"no path key", "[users]\r\nuser0=anna\r\n", [](AppSettings&) {}, "[users]\r\nuser0=anna\r\n"},
        {"a path cleared", "[config]\r\npath=/data/x\r\n", [](AppSettings& s) { s.outputPath.clear(); },
         "[config]\r\npath=\r\n"},
        // Lines end as they did; a new line ends as the file's first.
        {"LF line ends", "[proxy]\nserver=host\n", [](AppSettings& s) { s.proxyPort = 3128; },
         "[proxy]\nserver=host\nport=3128\n"},
        {"lone CRs", "[proxy]\rserver=host\r", [](AppSettings& s) { s.proxyPort = 3128; },
         "[proxy]\rserver=host\rport=3128\r"},
        {"no end after the last line", "[users]\nuser0=anna", [](AppSettings& s) { s.AddUser("bob"); },
         "[users]\nuser0=anna\nuser1=bob\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteFile(dir / "config.ini", c.before);
        chmod((dir / "config.ini").c_str(), 0644);
        AppSettings settings(dir.path());
        ASSERT_EQ(settings.Load(), "");
        c.change(settings);
        EXPECT_EQ(settings.Save(), "");
        EXPECT_EQ(ReadFile(dir / "config.ini"), c.after);
        EXPECT_EQ(ModeOf(dir / "config.ini") & 07777, 0600u);
        EXPECT_EQ(settings.outputPath, dir.path());
    }
}

TEST(SettingsSafetyTest, LoadRemovesWhatKilledSavesLeft) {
    TempDir dir;
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    const std::string stale = dir / ("config.ini.tmp-" + std::to_string(child) + "-0");
    WriteFile(stale, "[proxy]\r\npassword=secret\r\n");
    AppSettings settings(dir.path());
    settings.Load();
    EXPECT_FALSE(Exists(stale));
}

TEST(SettingsSafetyTest, AddUserRefusesNamesTheFileCannotGiveBack) {
    const auto hanzi = [](int count) {
        std::string name;
        for (int i = 0; i < count; ++i) name += G("张");
        return name;
    };
    const std::string invalid = G("用户名无效：不能为空、“.”或“..”，也不能包含“/”或控制字符。");
    const struct {
        std::string name;
        bool accepted;
    } cases[] = {
        {std::string(255, 'a'), true},
        {std::string(300, 'a'), false},
        {hanzi(127), true},   // 254 bytes in GBK
        {hanzi(128), false},  // 256
        {G("张三"), true},
        {G("emoji😀"), false},  // GBK has no emoji: the conversion left a "?"
        {"lead\x81", false},   // a lead byte with no second byte
        {"\xFF\xFE", false},
    };
    TempDir dir;
    AppSettings settings(dir.path());
    for (const auto& c : cases) {
        const int before = settings.userCount;
        EXPECT_EQ(settings.AddUser(c.name), c.accepted ? "" : invalid) << c.name.size();
        EXPECT_EQ(settings.userCount, before + (c.accepted ? 1 : 0));
    }
}

// A path that is no GBK text would name another folder: it is refused, not used, and stays in the file.
TEST(SettingsSafetyTest, OutputPathThatIsNoGbkIsRefusedAndKept) {
    // A stray byte and UTF-8 where GBK belongs are refused; a GBK path with a "?" is not.
    for (const std::string& path : {std::string("/data/\xFF"), std::string("/home/데이터"), G("/数据/a?b")}) {
        SCOPED_TRACE(path);
        const bool refused = path.back() != 'b';
        TempDir dir;
        const std::string config = "[config]\npath=" + path + "\n[users]\nuser0=anna\n";
        WriteFile(dir / "config.ini", config);
        AppSettings settings(dir.path());
        EXPECT_EQ(settings.Load(), refused ? G("路径中有无法保存的字符：") + path : "");
        EXPECT_EQ(settings.outputPath, refused ? dir.path() : path);
        EXPECT_EQ(settings.AddUser("bob"), "");
        EXPECT_EQ(ReadFile(dir / "config.ini"), config + "user1=bob\n");
    }
}

// A new file gets the caller's mode less the umask, whatever stood at the path before.
TEST(FileUtilSafetyTest, AtomicWritesNeverTakeOverModesOrFollowLinks) {
    const mode_t oldMask = umask(022);
    struct Case {
        const char* what;
        mode_t oldMode;  // of the file, or of the link's target
        std::string oldContents;
        bool link;
    };
    const Case cases[] = {
        {"world-writable", 0777, "old", false},
        {"setuid", 04755, "old", false},
        {"setgid and sticky", 03666, "old", false},
        {"same bytes, 0777", 0777, "new", false},
        {"owner only", 0600, "old", false},
        {"link to a file for its owner", 0700, "old", true},
        {"link to a file with the same bytes and mode", 0644, "new", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir / "page.htm", elsewhere = dir / "elsewhere";
        WriteFile(c.link ? elsewhere : path, c.oldContents);
        chmod((c.link ? elsewhere : path).c_str(), c.oldMode);
        if (c.link) ASSERT_EQ(symlink(elsewhere.c_str(), path.c_str()), 0);
        ASSERT_TRUE(WriteFileAtomic(path, "new"));
        EXPECT_EQ(ModeOf(path), S_IFREG | 0644);
        EXPECT_EQ(ReadFile(path), "new");
        if (c.link) EXPECT_EQ(ReadFile(elsewhere), c.oldContents);
    }
    TempDir dir;
    ASSERT_TRUE(WriteFileAtomic(dir / "asked-for-setuid", "x", 04777));
    EXPECT_EQ(ModeOf(dir / "asked-for-setuid"), S_IFREG | 0755);
    umask(oldMask);
}

// A write that fails returns false with errno saying why, and leaves the old file as it was and no
// temporary file beside it. Each write runs in a child process after its preparation.
TEST(FileUtilSafetyTest, FailedAtomicWritesKeepTheOldFileAndLeaveNoTemporaryFile) {
    const auto asOtherUser = [] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(253);
    };
    const auto fullDisk = [] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit cap{10, 10};
        setrlimit(RLIMIT_FSIZE, &cap);
    };
    const struct {
        const char* what;
        mode_t folderMode;
        std::function<void()> prepare;
        const char* oldFile;
        int error;
    } cases[] = {
        {"folder that cannot be written", 0555, asOtherUser, "page.htm", EACCES},
        {"full disk", 0755, fullDisk, "page.htm", EFBIG},
        {"a folder at the path", 0755, [] {}, "page.htm/old", EISDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteFile(dir / c.oldFile, "old");
        chmod(dir.path().c_str(), c.folderMode);
        const pid_t child = fork();
        if (child == 0) {
            c.prepare();
            errno = 0;
            _exit(WriteFileAtomic(dir / "page.htm", std::string(100, 'n')) ? 0 : errno);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.error);
        EXPECT_EQ(ReadFile(dir / c.oldFile), "old");
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            EXPECT_EQ(entry.path().filename(), "page.htm");
    }
}

}  // namespace
