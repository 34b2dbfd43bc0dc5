#include "platform/program_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/text_format.h"

namespace {

// An environment variable; empty when unset.
std::string EnvironmentPath(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : std::string();
}

// The home directory of the passwd entry of the real user; empty when there is none.
std::string AccountHome() {
    const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    while (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    return found && found->pw_dir ? found->pw_dir : std::string();
}

}  // namespace

std::string ChooseProgramFolder(const ProgramFolderPlaces& places) {
    if (places.given) return *places.given;
    const std::string current = places.current.empty() ? "." : places.current;
    if (places.currentHasConfig) return current;
    // A relative XDG_DATA_HOME is to be ignored: it would depend on where the program was started.
    if (places.xdgDataHome.starts_with('/')) return JoinPath(places.xdgDataHome, "albumbrowser");
    const std::string& home = places.home.empty() ? places.accountHome : places.home;
    if (home.empty()) return current;
    return JoinPath(home, ".local/share/albumbrowser");
}

ProgramFolderPlaces CurrentProgramFolderPlaces(std::optional<std::string> given) {
    ProgramFolderPlaces places;
    places.given = std::move(given);
    places.current = OsCurrentDirectory();
    struct stat info {};
    // Relative, so it holds even where the current directory's path cannot be read.
    places.currentHasConfig = ::lstat("config.ini", &info) == 0;
    places.xdgDataHome = EnvironmentPath("XDG_DATA_HOME");
    places.home = EnvironmentPath("HOME");
    if (places.home.empty()) places.accountHome = AccountHome();
    return places;
}

std::string EnterProgramFolder(std::string_view folder) {
    const std::string path(folder);
    if (!MakeOsDirectories(path) || ::chdir(path.c_str()) != 0) {
        const std::string why = SystemErrorText(errno);
        // For the message only: a character GBK cannot hold shows as "?".
        return Format(GBK("无法创建文件夹：%s（%s）").c_str(), Utf8ToGbk(path).c_str(), why.c_str());
    }
    return "";
}
