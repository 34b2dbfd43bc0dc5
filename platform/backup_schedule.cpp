#include "platform/backup_schedule.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/run_program.h"
#include "platform/text_format.h"

namespace {

const char kCronHint[] = "没有它时可以用cron运行albumbrowser-cli update --all。";

std::string FirstLine(const std::string& output) {
    std::string line = output.substr(0, output.find('\n'));
    return Utf8ToGbk(line.empty() ? std::string("?") : line);
}

// Why systemctl could not be run at all.
std::string NotRunText(int error) {
    if (error == ENOENT) return GBK("找不到systemctl：每天自动备份需要systemd，") + GBK(kCronHint);
    return Format(GBK("无法运行systemctl（%s）。").c_str(), SystemErrorText(error).c_str());
}

// Runs `systemctl --user ARGS`; empty, or why it failed.
std::string Systemctl(std::vector<std::string> args) {
    args.insert(args.begin(), {"systemctl", "--user"});
    const ProgramRun run = RunProgram(args);
    if (!run.started) return NotRunText(run.error);
    if (run.status != 0)
        return Format(GBK("systemctl --user %s失败：%s").c_str(), args[2].c_str(),
                      FirstLine(run.output).c_str());
    return "";
}

// The value of KEY=VALUE on a line of its own.
std::string ValueOf(const std::string& lines, const std::string& key) {
    const std::string start = key + "=";
    for (size_t at = 0; at < lines.size();) {
        size_t end = lines.find('\n', at);
        if (end == std::string::npos) end = lines.size();
        if (lines.compare(at, start.size(), start) == 0)
            return lines.substr(at + start.size(), end - at - start.size());
        at = end + 1;
    }
    return "";
}

// Asks the user's systemd about the timer, which every operation needs: the call needs the user
// manager's bus, so it tells a missing user systemd and a timer not installed from other failures.
std::string Probe(ScheduleState& state) {
    const ProgramRun run = RunProgram({"systemctl", "--user", "show", kBackupTimer,
                                       "--property=LoadState,UnitFileState,NextElapseUSecRealtime"});
    if (!run.started) return NotRunText(run.error);
    if (run.status != 0)
        return GBK("无法连接用户的systemd（") + FirstLine(run.output) +
               GBK("）：每天自动备份需要用户的systemd，") + GBK(kCronHint);
    if (ValueOf(run.output, "LoadState") != "loaded")
        return Format(GBK("找不到定时器%s：它随程序包安装在/usr/lib/systemd/user。").c_str(), kBackupTimer);
    state.enabled = ValueOf(run.output, "UnitFileState").rfind("enabled", 0) == 0;
    state.nextRun = ValueOf(run.output, "NextElapseUSecRealtime");
    if (state.nextRun == "n/a") state.nextRun.clear();
    return "";
}

// A name systemd reads back as it was written: UTF-8, absolute, no control character, no backslash
// (a line continuation or an escape to the unit file parser).
bool FitsUnitFile(const std::string& path) {
    if (path.empty() || path[0] != '/') return false;
    for (size_t i = 0; i < path.size();) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (c < 0x20 || c == 0x7F || c == '\\') return false;
        const int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + extra >= path.size()) return false;
        for (int k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(path[i + k]) >> 6) != 2) return false;
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

}  // namespace

std::string ScheduleDropInPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string folder;
    if (config && config[0] == '/') {
        folder = config;
    } else {
        folder = std::string(home ? home : "") + "/.config";
    }
    return folder + "/systemd/user/" + kBackupService + ".d/albumbrowser-folder.conf";
}

std::string QuerySchedule(ScheduleState& state) {
    state = ScheduleState();
    const std::string failure = Probe(state);
    if (!failure.empty()) return failure;
    std::string dropIn;
    if (ReadWholeFile(Utf8ToGbk(ScheduleDropInPath()), dropIn)) {
        state.folder = ValueOf(dropIn, "WorkingDirectory");
        ReplaceAll(state.folder, "%%", "%");
    }
    return "";
}

std::string SetSchedule(bool on, const std::string& programFolder) {
    ScheduleState state;
    std::string failure = Probe(state);
    if (!failure.empty()) return failure;
    const std::string dropIn = ScheduleDropInPath();
    if (!on) {
        failure = Systemctl({"disable", "--now", kBackupTimer});
        if (failure.empty()) ::unlink(dropIn.c_str());
        return failure;
    }
    if (!FitsUnitFile(programFolder))
        return Format(GBK("systemd无法使用这个文件夹名称：%s").c_str(), Utf8ToGbk(programFolder).c_str());
    std::string escaped = programFolder;
    ReplaceAll(escaped, "%", "%%");  // a specifier to systemd
    const std::string folder = dropIn.substr(0, dropIn.rfind('/'));
    if (!MakeOsDirectories(folder) ||
        !WriteOsFileAtomic(dropIn,
                           "# Written by albumbrowser-cli schedule on: the program's folder to back up.\n"
                           "[Service]\nWorkingDirectory=" +
                               escaped + "\n"))
        return Format(GBK("无法写入文件：%s（%s）").c_str(), Utf8ToGbk(dropIn).c_str(),
                      SystemErrorText(errno).c_str());
    failure = Systemctl({"daemon-reload"});
    if (failure.empty()) failure = Systemctl({"enable", "--now", kBackupTimer});
    return failure;
}
