#include <QApplication>
#include <QString>
#include <QTimer>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "app/album_browser_app.h"
#include "catalogue/album_catalogue.h"
#include "platform/program_folder.h"
#include "platform/program_version.h"
#include "ui/album_browser_dlg.h"
#include "ui/gbk_text.h"
#include "ui/message_box.h"
#include "ui/web_browser2.h"

namespace {

QString HelpText() {
    return QStringLiteral(
        "用法：albumbrowser [--data-dir 文件夹] [Qt 选项，如 -platform offscreen]\n"
        "  --data-dir 文件夹  在此文件夹（没有时新建）中保存 config.ini、输出文件和皮肤。\n"
        "                     不给出时：当前文件夹有 config.ini 就用当前文件夹，否则用\n"
        "                     $XDG_DATA_HOME/albumbrowser（~/.local/share/albumbrowser）。\n"
        "  --version          显示版本\n"
        "  --help             显示本说明\n");
}

struct OwnOptions {
    bool help = false, version = false;
    std::optional<std::string> dataDir;  // as typed: the folder's own bytes
    bool missingFolder = false;
};

// Takes the program's own options out of argv; the rest (-platform, -style ...) is left for Qt. Runs
// before QApplication, so --help and --version need no display.
OwnOptions TakeOwnOptions(int& argc, char** argv) {
    OwnOptions options;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--data-dir" || arg.starts_with("--data-dir=")) {
            const bool joined = arg != "--data-dir";
            if (!joined && i + 1 >= argc) {
                options.missingFolder = true;
                continue;
            }
            options.dataDir = joined ? std::string(arg.substr(arg.find('=') + 1)) : std::string(argv[++i]);
            if (options.dataDir->empty()) options.missingFolder = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argv[kept] = nullptr;
    argc = kept;
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const OwnOptions options = TakeOwnOptions(argc, argv);
    if (options.missingFolder) {
        std::fprintf(stderr, "albumbrowser: %s\n%s",
                     QStringLiteral("--data-dir 后面要给出文件夹").toUtf8().constData(),
                     HelpText().toUtf8().constData());
        return 2;
    }
    if (options.help) {
        std::fputs(HelpText().toUtf8().constData(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("albumbrowser %s\n", ProgramVersion());
        return 0;
    }

    CWebBrowser2::PrepareProcess();
    QApplication application(argc, argv);
    // The executable's name (the window class); the desktop entry of the same name gives the window
    // its menu entry and icon on Wayland.
    QApplication::setApplicationName(QStringLiteral("albumbrowser"));
    QGuiApplication::setDesktopFileName(QStringLiteral("albumbrowser"));
    // The app takes the current directory as its folder: entering the program's folder makes it so.
    const ProgramFolderPlaces places = CurrentProgramFolderPlaces(options.dataDir);
    const std::string folderFailure = EnterProgramFolder(ChooseProgramFolder(places));
    if (!folderFailure.empty()) {
        std::fprintf(stderr, "albumbrowser: %s\n", FromGbk(folderFailure).toUtf8().constData());
        ShowMessage(nullptr, FromGbk(folderFailure), QString(), QMessageBox::Critical);
        return 1;
    }
    static AlbumCatalogue catalogue;
    CAlbumBrowserApp app(catalogue);
    app.InitInstance();
    return 0;
}
