// Backups that run themselves, through albumbrowser-cli against zorbi-demo-service: every user in one
// run (--all) with its lines, backup.log, the notification and the monitoring address, and the daily
// timer switched through a stand-in systemctl.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli_process.h"
#include "demo_service_process.h"
#include "jobs/run_report.h"
#include "platform/folder_lock.h"
#include "temp_dir.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The user and outcome fields of each backup.log line.
std::vector<std::string> LoggedRuns(const fs::path& log) {
    std::vector<std::string> runs;
    for (const std::string& line : Lines(ReadFile(log))) {
        const size_t user = line.find('\t') + 1, outcome = line.find('\t', user) + 1;
        runs.push_back(line.substr(user, line.find('\t', outcome) - user));
    }
    return runs;
}

class UnattendedTest : public testing::Test {
  protected:
    void SetUp() override { fs::create_directories(folder_); }
    void Configure(const std::string& notifyUrl, const std::string& users) {
        WriteFile(folder_ / "config.ini",
                  "[config]\r\nretries=0\r\nnotify_url=" + notifyUrl + "\r\n[users]\r\n" + users);
    }
    // The tool with `path` as its PATH and a configuration folder of the test's own.
    CliResult Cli(const std::string& endpoint, std::vector<std::string> args, const std::string& path) {
        return RunCli(folder_, endpoint, std::move(args), [&] {
            setenv("PATH", path.c_str(), 1);
            setenv("XDG_CONFIG_HOME", (temp_.path() + "/config").c_str(), 1);
        });
    }

    TempDir temp_{"unattended-test"};
    const fs::path folder_ = fs::path(temp_.path()) / "program";
    const fs::path bin_ = fs::path(temp_.path()) / "bin";
    const std::string path_ = bin_.string() + ":/usr/bin:/bin";
};

// Three users, one the service does not know and one another process holds: each runs in list order,
// the held one is skipped with its text, and the run ends with the worst status, a notification naming
// the first failure and the monitoring address's failure form. --json gives the fields of status --json.
TEST_F(UnattendedTest, EveryUserRunsInTurnAndTheWorstEndsTheRun) {
    DemoServiceProcess service;
    Configure(service.baseUrl() + "/ping", "user0=demo\r\nuser1=nobody\r\nuser2=empty\r\n");
    fs::create_directories(folder_ / "empty");
    const FolderLock held((folder_ / "empty").string());
    ASSERT_TRUE(held.held());
    WriteStandIn(bin_, "notify-send", "exit 0");

    const CliResult run = Cli(service.baseUrl(), {"update", "--all", "--quiet"}, path_);
    EXPECT_EQ(run.status, 1) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    EXPECT_TRUE(lines[0].starts_with("demo（完成）：共62张图片")) << lines[0];
    EXPECT_EQ(lines[1], "nobody（失败）：User not found");
    EXPECT_EQ(lines[2], "empty（跳过）：此用户正在被另一个任务更新（进程" + std::to_string(getpid()) +
                            "），请稍后再试。");
    EXPECT_EQ(lines[3], "共3个用户：完成1个，失败1个，跳过1个。");
    EXPECT_EQ(LoggedRuns(folder_ / "backup.log"),
              (std::vector<std::string>{"demo\tdone", "nobody\tfailed", "empty\tbusy"}));
    EXPECT_EQ(StandInRuns(bin_, "notify-send"),
              std::vector<std::string>{"[--app-name=Zorbi浏览器][--icon=albumbrowser][--]["
                                       "Zorbi浏览器：备份未完成][nobody：User not found]"});
    EXPECT_NE(service.log().find("\"GET /ping/fail\""), std::string::npos);

    // --json: each user with the fields of status --json and this run's, then the total.
    const std::vector<std::string> objects =
        Lines(Cli(service.baseUrl(), {"update", "--all", "--json"}, path_).out);
    const nlohmann::json status = nlohmann::json::parse(
        Cli(service.baseUrl(), {"status", "demo", "--json"}, path_).out, nullptr, false);
    ASSERT_EQ(objects.size(), 4u);
    for (int n = 0; n < 3; ++n) {
        nlohmann::json object = nlohmann::json::parse(objects[n], nullptr, false);
        EXPECT_EQ(object["run"]["exit_status"], n == 0 ? 0 : 1) << objects[n];
        object.erase("run");
        EXPECT_EQ(object.size(), status.size());
        for (const auto& [key, value] : status.items()) EXPECT_TRUE(object.contains(key)) << key;
    }
    EXPECT_EQ(nlohmann::json::parse(objects[3])["total"]["exit_status"], 1);
}

// A run that ends well pings the address itself and shows nothing; one whose address cannot be reached
// keeps its status and says so in backup.log, which stays under its limit, whole lines only.
TEST_F(UnattendedTest, AGoodRunPingsItsAddressAndTheLogStaysUnderItsLimit) {
    DemoServiceProcess service;
    WriteStandIn(bin_, "notify-send", "exit 0");
    std::string old;
    for (int n = 0; old.size() + 11 <= static_cast<size_t>(kBackupLogLimit); ++n) {
        char line[16];
        std::snprintf(line, sizeof line, "old %06d\n", n);
        old += line;
    }
    WriteFile(folder_ / "backup.log", old);
    struct Case {
        std::string notifyUrl;
        std::string lastLogged;
    } cases[] = {{service.baseUrl() + "/ping", "demo\tdone"},
                 {"http://127.0.0.1:1/ping", "-\tnotify_url failed"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.notifyUrl);
        Configure(c.notifyUrl, "user0=demo\r\n");
        EXPECT_EQ(Cli(service.baseUrl(), {"update", "--all", "--quiet"}, path_).status, 0);
        const std::string log = ReadFile(folder_ / "backup.log");
        EXPECT_LE(log.size(), static_cast<size_t>(kBackupLogLimit));
        EXPECT_TRUE(log.starts_with("old ") && old.find(log.substr(0, 11)) % 11 == 0) << log.substr(0, 20);
        EXPECT_EQ(LoggedRuns(folder_ / "backup.log").back(), c.lastLogged);
    }
    EXPECT_NE(service.log().find("\"GET /ping\""), std::string::npos);
    EXPECT_TRUE(StandInRuns(bin_, "notify-send").empty());
}

// schedule on, off and status through systemctl --user, and the texts where there is no user systemd
// or no systemctl at all.
TEST_F(UnattendedTest, ScheduleSwitchesTheTimerThroughSystemctl) {
    const std::string show =
        "[--user][show][albumbrowser-backup.timer][--property=LoadState,UnitFileState,"
        "NextElapseUSecRealtime]";
    const fs::path dropIn =
        fs::path(temp_.path()) / "config/systemd/user/albumbrowser-backup.service.d/albumbrowser-folder.conf";
    struct Case {
        const char* systemctl;  // the stand-in's body; none: no systemctl on PATH
        const char* action;
        int status;
        std::vector<std::string> calls;
        std::string says;
    } cases[] = {
        {kSystemctlStandIn,
         "on",
         0,
         {show, "[--user][daemon-reload]", "[--user][enable][--now][albumbrowser-backup.timer]", show},
         "每天自动备份：已开启\n备份的文件夹：" + folder_.string() +
             "\n下次运行：Tue 2026-06-02 00:31:12 UTC\n"},
        {kSystemctlStandIn,
         "off",
         0,
         {show, "[--user][disable][--now][albumbrowser-backup.timer]", show},
         "每天自动备份：未开启\n"},
        {"echo 'Failed to connect to bus: No medium found' >&2; exit 1",
         "status",
         1,
         {show},
         "无法连接用户的systemd（Failed to connect to bus: No medium found）：每天自动备份需要用户的systemd，"
         "没有它时可以用cron运行albumbrowser-cli update --all。\n"},
        {nullptr,
         "on",
         1,
         {},
         "找不到systemctl：每天自动备份需要systemd，没有它时可以用cron运行albumbrowser-cli update --all。\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        fs::remove(bin_ / "systemctl.args");
        if (c.systemctl)
            WriteStandIn(bin_, "systemctl", c.systemctl);
        else
            fs::remove(bin_ / "systemctl");
        const CliResult run = Cli("http://127.0.0.1:9", {"-C", folder_.string(), "schedule", c.action},
                                  c.systemctl ? path_ : bin_.string());
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.out, c.says);
        EXPECT_EQ(StandInRuns(bin_, "systemctl"), c.calls);
        // The folder backed up is named beside the user's units while the timer is on.
        EXPECT_EQ(fs::exists(dropIn), c.action == std::string("on") && c.status == 0);
    }
}

}  // namespace
