// albumbrowser-cli: the update engine without windows, for scripts and scheduled backups. It runs in the
// program's folder like the desktop program: config.ini and the default output folder are there.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/app_settings.h"
#include "cli/archive_commands.h"
#include "cli/exit_status.h"
#include "cli/memory_album_list.h"
#include "cli/terminal_progress.h"
#include "cli/unattended_commands.h"
#include "jobs/sidecar_job.h"
#include "jobs/update_albums.h"
#include "jobs/verify_backup.h"
#include "net/percent_encode.h"
#include "output/link_format.h"
#include "output/preview_page.h"
#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/program_folder.h"
#include "platform/program_version.h"

namespace {

const char kUsage[] =
    "usage: albumbrowser-cli update USER|--all [--quiet] [--pictures LIST] [--connections N] [--no-gallery]\n"
    "                                                  download USER's albums into the cache, then rebuild\n"
    "       albumbrowser-cli rebuild USER [--quiet] [--no-gallery]\n"
    "                                                  rebuild USER's catalogue and pages from the cache\n"
    "       albumbrowser-cli preview USER [--album N] [--size N] [--format N | --template TEXT] "
    "[--no-alert]\n"
    "                                                  write temp.htm for one album and print its path\n"
    "       albumbrowser-cli verify USER|--all [--repair] [--quiet]\n"
    "                                                  check every saved picture and cached answer of USER;\n"
    "                                                  --repair fetches what is missing or damaged again\n"
    "       albumbrowser-cli status USER [--json]      what USER's backup holds and what its last runs did\n"
    "       albumbrowser-cli search TEXT [--user USER] find photos by title or description in the backups\n"
    "       albumbrowser-cli sidecars USER             write the XMP sidecars of USER's saved pictures\n"
    "       albumbrowser-cli schedule on|off|status    the daily backup of every user (a systemd user "
    "timer)\n"
    "       albumbrowser-cli users                     list the user names\n"
    "       albumbrowser-cli users add NAME            add a user name\n"
    "       albumbrowser-cli users delete NAME         delete a user name\n"
    "       albumbrowser-cli --help | --version        show this text or the version\n"
    "Sizes: 0 small, 1 medium, 2 big, 3 original. Formats: 0 URL, 1 UBB, 2 HTML, 3 preview, 4 custom.\n"
    "--pictures LIST saves the pictures of the sizes listed (e.g. 2,3; empty for none) in this run;\n"
    "--connections N (1 to 16) sets the parallel connections per host for this run; --no-gallery\n"
    "leaves USER/gallery as it is in this run.\n"
    "--all runs update or verify for every user in list order (--json: one JSON object per user and\n"
    "one for the total), writes OUTPUT/backup.log, and on failure a desktop notification.\n"
    "-C DIR or --data-dir DIR, before or after the command, runs in DIR (made when missing). Without\n"
    "it: the current folder when it holds config.ini, else $XDG_DATA_HOME/albumbrowser\n"
    "(~/.local/share/albumbrowser). Ctrl+C once interrupts a job, twice ends the program.\n";

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

// What the command line asks for, its values checked before any folder is touched. Texts are UTF-8 as
// typed.
struct Request {
    // update, rebuild, preview, verify, status, search, sidecars, schedule, users; empty when none was
    // given
    std::string command;
    std::string action;  // users: add or delete, empty to list; schedule: on, off or status
    std::string user;    // USER, or the NAME of users add/delete, or the TEXT of search
    std::optional<std::string> searchUser;
    bool repair = false, json = false;
    bool all = false;  // update and verify: every user
    std::optional<std::string> dataDir;
    bool quiet = false;
    bool noGallery = false;
    std::optional<unsigned> pictureSizes;  // for this run only: the record is not saved by a job
    std::optional<int> connections;
    int album = 0, size = 2, format = PreviewFormatIndex;
    bool formatGiven = false, alert = true;
    std::optional<std::string> templateText;
};

// Parses the command line into `request`; an exit status when the program is done already (help,
// version, a usage error), else nothing.
std::optional<int> ParseCommandLine(int argc, char** argv, Request& request) {
    CLI::App app("", "albumbrowser-cli");
    app.set_help_flag("-h,--help");
    app.set_version_flag("--version", std::string("albumbrowser-cli ") + ProgramVersion());
    app.require_subcommand(0, 1);
    // A repeated option takes its last value, as scripts that append one expect.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    const auto keep = [](std::optional<std::string>& target) {
        return [&target](const std::string& value) { target = value; };
    };
    app.add_option_function<std::string>("-C,--data-dir", keep(request.dataDir));

    std::optional<std::string> pictures, connections, album, size, format;
    CLI::App* help = app.add_subcommand("help");
    std::vector<CLI::App*> commands;
    // Commands that take USER or --all, one of the two.
    std::vector<CLI::App*> allCommands;
    for (const char* name : {"update", "rebuild"}) {
        CLI::App* command = app.add_subcommand(name);
        CLI::Option* user = command->add_option("USER", request.user);
        if (command->get_name() == "update") {
            command->add_flag("--all", request.all);
            command->add_flag("--json", request.json);
            allCommands.push_back(command);
        } else {
            user->required();
        }
        command->add_flag("--quiet", request.quiet);
        command->add_option_function<std::string>("--pictures", keep(pictures));
        command->add_option_function<std::string>("--connections", keep(connections));
        command->add_flag("--no-gallery", request.noGallery);
        commands.push_back(command);
    }
    CLI::App* sidecars = app.add_subcommand("sidecars");
    sidecars->add_option("USER", request.user)->required();
    commands.push_back(sidecars);
    CLI::App* preview = app.add_subcommand("preview");
    preview->add_option("USER", request.user)->required();
    preview->add_option_function<std::string>("--album", keep(album));
    preview->add_option_function<std::string>("--size", keep(size));
    preview->add_option_function<std::string>("--format", keep(format));
    preview->add_option_function<std::string>("--template", keep(request.templateText));
    bool noAlert = false;
    preview->add_flag("--no-alert", noAlert);
    commands.push_back(preview);
    CLI::App* verify = app.add_subcommand("verify");
    verify->add_option("USER", request.user);
    verify->add_flag("--repair", request.repair);
    verify->add_flag("--quiet", request.quiet);
    verify->add_flag("--all", request.all);
    verify->add_flag("--json", request.json);
    allCommands.push_back(verify);
    commands.push_back(verify);
    CLI::App* status = app.add_subcommand("status");
    status->add_option("USER", request.user)->required();
    status->add_flag("--json", request.json);
    commands.push_back(status);
    CLI::App* search = app.add_subcommand("search");
    search->add_option("TEXT", request.user)->required();
    search->add_option_function<std::string>("--user", keep(request.searchUser));
    commands.push_back(search);
    CLI::App* schedule = app.add_subcommand("schedule");
    schedule->add_option("ACTION", request.action)->required()->check(CLI::IsMember({"on", "off", "status"}));
    commands.push_back(schedule);
    CLI::App* users = app.add_subcommand("users");
    users->require_subcommand(0, 1);
    for (const char* name : {"add", "delete"}) {
        CLI::App* action = users->add_subcommand(name);
        action->add_option("NAME", request.user)->required();
        action->fallthrough();
    }
    commands.push_back(users);
    // -C and --help are also taken after the command.
    for (CLI::App* command : commands) command->fallthrough();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    } catch (const CLI::CallForVersion& version) {
        std::printf("%s\n", version.what());
        return kExitOk;
    } catch (const CLI::ExtrasError& error) {
        // The first word left over names the problem better than CLI11's list, which comes reversed.
        const std::vector<std::string> extras = app.remaining(true);
        if (extras.empty()) return Usage(error.what());
        if (app.get_subcommands().empty()) return Usage("unknown command: " + extras.front());
        if (users->parsed()) return Usage("users takes add NAME or delete NAME");
        return Usage("unexpected argument: " + extras.front());
    } catch (const CLI::ParseError& error) {
        return Usage(error.what());
    }
    if (request.dataDir && request.dataDir->empty()) return Usage("--data-dir needs a folder");
    if (help->parsed()) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (app.get_subcommands().empty()) return Usage("");
    request.command = app.get_subcommands().front()->get_name();
    if (users->parsed() && !users->get_subcommands().empty())
        request.action = users->get_subcommands().front()->get_name();

    for (CLI::App* command : allCommands) {
        if (!command->parsed()) continue;
        const bool user = command->get_option("USER")->count() > 0;
        if (user && request.all) return Usage("USER and --all exclude each other");
        if (!user && !request.all) return Usage(command->get_name() + " needs USER or --all");
        if (request.json && !request.all) return Usage("--json goes with --all");
    }

    request.alert = !noAlert;
    if (pictures) {
        unsigned sizes = 0;
        if (!AppSettings::ParsePictureSizes(*pictures, sizes))
            return Usage("--pictures takes a list of sizes 0 to 3, such as 2,3");
        request.pictureSizes = sizes;
    }
    if (connections) {
        request.connections = ParseIndex(*connections);
        if (!request.connections || *request.connections < 1 || *request.connections > 16)
            return Usage("--connections takes 1 to 16");
    }
    if (album) {
        const std::optional<int> n = ParseIndex(*album);
        if (!n) return Usage("--album takes a number of 0 or more");
        request.album = *n;
    }
    if (size) {
        const std::optional<int> n = ParseIndex(*size);
        if (!n || *n >= SizeCount) return Usage("--size takes 0 to 3");
        request.size = *n;
    }
    if (format) {
        const std::optional<int> n = ParseIndex(*format);
        if (!n || *n >= FormatCount) return Usage("--format takes 0 to 4");
        request.format = *n;
        request.formatGiven = true;
    }
    if (request.formatGiven && request.templateText)
        return Usage("--format and --template exclude each other");
    return std::nullopt;
}

// The job's progress, reachable from the signal handler.
JobProgress* g_activeJob = nullptr;
volatile sig_atomic_t g_interrupted = 0;

void OnSignal(int signal) {
    // The first Ctrl+C asks the job to stop at its next test point (it then ends as interrupted, with
    // status 130); anything more ends the program at once.
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

// Runs the update workflow into the catalogue. Album pages get the template the main window starts with.
JobOutcome RunJob(AlbumCatalogue& catalogue, AppSettings& settings, const std::string& user, bool fromCache,
                  JobProgress& progress) {
    const ZorbiService service = ZorbiService::FromEnvironment();
    RestReader reader(catalogue, service.pictureHost());
    MemoryAlbumList albumList;
    UpdateContext context{catalogue, reader,    settings, service,
                          progress,  albumList, user,     FormatTemplates()[PreviewFormatIndex]};
    context.startPauseMs = 0;  // the pause lets a progress window open; a terminal needs none
    return UpdateAlbums(context, fromCache);
}

// One user's update, rebuild or verify (GBK), reachable by the first Ctrl+C.
JobOutcome RunUserJob(AppSettings& settings, const Request& request, const std::string& user,
                      JobProgress& progress) {
    g_activeJob = &progress;
    JobOutcome outcome;
    if (request.command == "verify") {
        const ZorbiService service = ZorbiService::FromEnvironment();
        VerifyContext context{settings, service, progress, user, request.repair};
        context.startPauseMs = 0;
        outcome = VerifyBackup(context).outcome;
    } else {
        auto catalogue = std::make_unique<AlbumCatalogue>();
        outcome = RunJob(*catalogue, settings, user, request.command == "rebuild", progress);
    }
    g_activeJob = nullptr;
    return outcome;
}

int UpdateCommand(AppSettings& settings, const Request& request, const std::string& loadFailure) {
    if (request.pictureSizes) settings.pictureSizes = *request.pictureSizes;
    if (request.connections) settings.connections = *request.connections;
    if (request.noGallery) settings.gallery = false;
    if (request.all) {
        return AllUsersCommand(settings, loadFailure, request.quiet, request.json,
                               [&](const std::string& user, JobProgress& progress) {
                                   return RunUserJob(settings, request, user, progress);
                               });
    }
    TerminalProgress progress(stderr, request.quiet);
    const std::string user = Utf8ToGbk(request.user);
    const JobOutcome outcome = RunUserJob(settings, request, user, progress);
    PrintUtf8(stdout, progress.resultText);
    return ExitStatus(outcome);
}

int PreviewCommand(AppSettings& settings, const Request& request) {
    std::string outputTemplate;
    if (request.templateText) {
        outputTemplate = Utf8ToGbk(*request.templateText);
    } else if (request.format < BuiltInFormatCount) {
        outputTemplate = FormatTemplates()[request.format];
    } else {
        outputTemplate = settings.customFormat;
    }

    // A user without a cache has nothing to show: say so before any folder or page is made.
    const std::string gbkUser = Utf8ToGbk(request.user);
    if (!AppSettings::IsValidUserName(gbkUser) ||
        !FileExists(JoinPath(UserFolder(settings, gbkUser), "rest/user.xml"))) {
        PrintUtf8(stdout, GBK("找不到用户信息。"));
        return kExitFailed;
    }

    // The same rebuild as `rebuild`, silent: the report pages it writes stay as a rebuild leaves them.
    // A rebuild that another job's lock turned away read nothing: the preview says why instead.
    auto catalogue = std::make_unique<AlbumCatalogue>();
    TerminalProgress silent(stderr, true);
    if (RunJob(*catalogue, settings, gbkUser, true, silent) == JobOutcome::FolderBusy) {
        PrintUtf8(stdout, silent.resultText);
        return kExitFailed;
    }

    const std::string page =
        BuildPreviewPage(*catalogue, request.album, request.size, outputTemplate, request.alert);
    const std::string path = WritePreviewFile(settings.outputPath, page);
    if (path.empty()) {
        std::fprintf(stderr, "albumbrowser-cli: cannot write temp.htm in %s\n",
                     ForTerminal(settings.outputPath).c_str());
        return kExitFailed;
    }
    // Where the user can find it: the program's folder may be one the core names "." only.
    std::printf("%s\n", TerminalSafe(AbsoluteOsPath(path)).c_str());
    return kExitOk;
}

// `loadFailure`: what Load said, already shown; a refusal that only repeats it is not shown again.
int UsersCommand(AppSettings& settings, const Request& request, const std::string& loadFailure) {
    if (request.action.empty()) {
        for (int n = 0; n < settings.userCount; ++n) PrintUtf8(stdout, settings.userNames[n]);
        return kExitOk;
    }
    const std::string name = Utf8ToGbk(request.user);
    std::string failure;
    if (request.action == "add") {
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
    Request request;
    if (const std::optional<int> done = ParseCommandLine(argc, argv, request)) return *done;

    // Relative paths in config.ini (the output folder, the skin) mean what they meant: the program's
    // folder becomes the current directory, as the folder a program was started in was.
    // The folder by its own bytes, whatever characters it holds; the core's paths start below it.
    const ProgramFolderPlaces places = CurrentProgramFolderPlaces(request.dataDir);
    const std::string folderFailure = EnterProgramFolder(ChooseProgramFolder(places));
    if (!folderFailure.empty()) {
        PrintUtf8(stderr, folderFailure);
        return kExitFailed;
    }

    if (!InitNetwork()) {
        std::fprintf(stderr, "albumbrowser-cli: cannot initialise the network layer\n");
        return kExitFailed;
    }
    AppSettings settings(CurrentDirectory());
    const std::string loadFailure = settings.Load();
    if (!loadFailure.empty()) PrintUtf8(stderr, loadFailure);

    if (request.command == "preview") return PreviewCommand(settings, request);
    if (request.command == "status") return StatusCommand(settings, request.user, request.json);
    if (request.command == "search") return SearchCommand(settings, request.user, request.searchUser);
    if (request.command == "verify" && request.all) return UpdateCommand(settings, request, loadFailure);
    if (request.command == "verify") {
        TerminalProgress progress(stderr, request.quiet);
        g_activeJob = &progress;
        const int exitStatus = VerifyCommand(settings, request.user, request.repair, progress);
        g_activeJob = nullptr;
        return exitStatus;
    }
    if (request.command == "schedule") return ScheduleCommand(request.action);
    if (request.command == "users") return UsersCommand(settings, request, loadFailure);
    if (request.command == "sidecars") {
        TerminalProgress silent(stderr, true);
        const JobOutcome outcome = WriteSidecarsOfUser(settings, Utf8ToGbk(request.user), silent);
        PrintUtf8(stdout, silent.resultText);
        return ExitStatus(outcome);
    }
    return UpdateCommand(settings, request, loadFailure);
}
