// albumbrowser-cli: the update engine without windows, for scripts and scheduled backups. It runs in a
// folder like the desktop program: config.ini and the default output folder are in the current
// directory.
#include <curl/curl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/app_settings.h"
#include "cli/memory_album_list.h"
#include "cli/terminal_progress.h"
#include "jobs/update_albums.h"
#include "output/link_format.h"
#include "output/preview_page.h"
#include "platform/codepage.h"
#include "platform/file_util.h"

namespace {

constexpr int kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitSomePicturesFailed = 3,
              kExitInterrupted = 130;

const char kUsage[] =
    "usage: albumbrowser-cli update USER [--quiet] [--pictures LIST] [--connections N]\n"
    "                                                  download USER's albums into the cache, then rebuild\n"
    "       albumbrowser-cli rebuild USER [--quiet]    rebuild USER's catalogue and pages from the cache\n"
    "       albumbrowser-cli preview USER [--album N] [--size N] [--format N | --template TEXT] "
    "[--no-alert]\n"
    "                                                  write temp.htm for one album and print its path\n"
    "       albumbrowser-cli users                     list the user names\n"
    "       albumbrowser-cli users add NAME            add a user name\n"
    "       albumbrowser-cli users delete NAME         delete a user name\n"
    "Sizes: 0 small, 1 medium, 2 big, 3 original. Formats: 0 URL, 1 UBB, 2 HTML, 3 preview, 4 custom.\n"
    "--pictures LIST saves the pictures of the sizes listed (e.g. 2,3; empty for none) in this run;\n"
    "--connections N (1 to 16) sets the parallel connections per host for this run.\n"
    "Run it in the folder that holds config.ini. Ctrl+C once interrupts a job, twice ends the program.\n";

int Usage(const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "albumbrowser-cli: %s\n", TerminalSafe(problem).c_str());
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

void PrintUtf8(FILE* out, const std::string& gbk) {
    std::fprintf(out, "%s\n", ForTerminal(gbk).c_str());
}

// A whole decimal number of 0 or more.
std::optional<int> ParseIndex(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::atoi(text.c_str());
}

// The job's progress, reachable from the signal handler.
JobProgress* g_activeJob = nullptr;
volatile sig_atomic_t g_interrupted = 0;

void OnSignal(int signal) {
    // The first Ctrl+C asks the job to stop at its next test point; anything more ends the program.
    if (signal == SIGINT && !g_interrupted && g_activeJob) {
        g_interrupted = 1;
        g_activeJob->interruptRequested = true;
        return;
    }
    _exit(kExitInterrupted);
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Runs the update workflow into the catalogue; returns whether it ended with its summary. Album pages
// get the template the main window starts with.
bool RunJob(AlbumCatalogue& catalogue, AppSettings& settings, const std::string& user, bool fromCache,
            JobProgress& progress, int* picturesFailed = nullptr) {
    const ZorbiService service = ZorbiService::FromEnvironment();
    RestReader reader(catalogue, service.pictureHost());
    MemoryAlbumList albumList;
    UpdateContext context{catalogue, reader,    settings, service,
                          progress,  albumList, user,     FormatTemplates()[PreviewFormatIndex]};
    context.startPauseMs = 0;  // the pause lets a progress window open; a terminal needs none
    context.picturesFailed = picturesFailed;
    return UpdateAlbums(context, fromCache);
}

int UpdateCommand(AppSettings& settings, const std::vector<std::string>& args, bool fromCache) {
    std::string user;
    bool quiet = false, optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && (arg == "--pictures" || arg == "--connections")) {
            // For this run only: the record is not saved by a job.
            if (i + 1 >= args.size()) return Usage(arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "--pictures") {
                if (!AppSettings::ParsePictureSizes(value, settings.pictureSizes))
                    return Usage("--pictures takes a list of sizes 0 to 3, such as 2,3");
            } else {
                const std::optional<int> n = ParseIndex(value);
                if (!n || *n < 1 || *n > 16) return Usage("--connections takes 1 to 16");
                settings.connections = *n;
            }
        } else if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg == "--quiet") {
            quiet = true;
        } else if (user.empty() && (optionsEnded || arg.rfind("--", 0) != 0)) {
            user = arg;
        } else {
            return Usage("unexpected argument: " + arg);
        }
    }
    if (user.empty()) return Usage("missing USER");

    TerminalProgress progress(stderr, quiet);
    g_activeJob = &progress;
    auto catalogue = std::make_unique<AlbumCatalogue>();
    int picturesFailed = 0;
    const bool summary = RunJob(*catalogue, settings, Utf8ToGbk(user), fromCache, progress, &picturesFailed);
    g_activeJob = nullptr;
    PrintUtf8(stdout, progress.resultText);
    if (!summary) return kExitFailed;
    return picturesFailed > 0 ? kExitSomePicturesFailed : kExitOk;
}

int PreviewCommand(AppSettings& settings, const std::vector<std::string>& args) {
    std::string user;
    int album = 0, size = 2, format = PreviewFormatIndex;
    bool formatGiven = false, alert = true, optionsEnded = false;
    std::optional<std::string> templateText;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (optionsEnded) {
            if (!user.empty()) return Usage("unexpected argument: " + arg);
            user = arg;
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--no-alert") {
            alert = false;
        } else if (arg == "--album" || arg == "--size" || arg == "--format" || arg == "--template") {
            if (!hasValue) return Usage(arg + " needs a value");
            const std::string value = args[++i];
            if (arg == "--template") {
                templateText = Utf8ToGbk(value);
                continue;
            }
            const std::optional<int> n = ParseIndex(value);
            if (arg == "--album") {
                if (!n) return Usage("--album takes a number of 0 or more");
                album = *n;
            } else if (arg == "--size") {
                if (!n || *n >= SizeCount) return Usage("--size takes 0 to 3");
                size = *n;
            } else {
                if (!n || *n >= FormatCount) return Usage("--format takes 0 to 4");
                format = *n;
                formatGiven = true;
            }
        } else if (user.empty() && arg.rfind("--", 0) != 0) {
            user = arg;
        } else {
            return Usage("unexpected argument: " + arg);
        }
    }
    if (user.empty()) return Usage("missing USER");
    if (formatGiven && templateText) return Usage("--format and --template exclude each other");

    std::string outputTemplate;
    if (templateText) {
        outputTemplate = *templateText;
    } else {
        outputTemplate = format < BuiltInFormatCount ? FormatTemplates()[format] : settings.customFormat;
    }

    // A user without a cache has nothing to show: say so before any folder or page is made.
    const std::string gbkUser = Utf8ToGbk(user);
    if (!AppSettings::IsValidUserName(gbkUser) ||
        !FileExists(JoinPath(UserFolder(settings, gbkUser), "rest/user.xml"))) {
        PrintUtf8(stdout, GBK("找不到用户信息。"));
        return kExitFailed;
    }

    // The same rebuild as `rebuild`, silent: the report pages it writes stay as a rebuild leaves them.
    auto catalogue = std::make_unique<AlbumCatalogue>();
    TerminalProgress silent(stderr, true);
    RunJob(*catalogue, settings, gbkUser, true, silent);

    const std::string page = BuildPreviewPage(*catalogue, album, size, outputTemplate, alert);
    const std::string path = WritePreviewFile(settings.outputPath, page);
    if (path.empty()) {
        std::fprintf(stderr, "albumbrowser-cli: cannot write temp.htm in %s\n",
                     ForTerminal(settings.outputPath).c_str());
        return kExitFailed;
    }
    PrintUtf8(stdout, path);
    return kExitOk;
}

// `loadFailure`: what Load said, already shown; a refusal that only repeats it is not shown again.
int UsersCommand(AppSettings& settings, std::vector<std::string> args, const std::string& loadFailure) {
    for (auto arg = args.begin(); arg != args.end(); ++arg) {
        if (*arg == "--") {
            args.erase(arg);
            break;
        }
    }
    if (args.empty()) {
        for (int n = 0; n < settings.userCount; ++n) PrintUtf8(stdout, settings.userNames[n]);
        return kExitOk;
    }
    if (args.size() != 2 || (args[0] != "add" && args[0] != "delete"))
        return Usage("users takes add NAME or delete NAME");
    const std::string name = Utf8ToGbk(args[1]);
    std::string failure;
    if (args[0] == "add") {
        failure = settings.AddUser(name);
    } else if (settings.FindUser(name) < 0) {
        failure = GBK("用户列表中没有此用户：") + name;
    } else {
        failure = settings.DeleteUser(settings.FindUser(name));
    }
    if (failure.empty()) return kExitOk;
    if (failure != loadFailure) PrintUtf8(stderr, failure);
    return kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    InstallSignalHandlers();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage("");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    const std::string command = args[0];
    args.erase(args.begin());

    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
        std::fprintf(stderr, "albumbrowser-cli: cannot initialise the network layer\n");
        return kExitFailed;
    }
    AppSettings settings(CurrentDirectory());
    const std::string loadFailure = settings.Load();
    if (!loadFailure.empty()) PrintUtf8(stderr, loadFailure);

    if (command == "update" || command == "rebuild")
        return UpdateCommand(settings, args, command == "rebuild");
    if (command == "preview") return PreviewCommand(settings, args);
    if (command == "users") return UsersCommand(settings, args, loadFailure);
    return Usage("unknown command: " + command);
}
