#pragma once
// The program's folder: config.ini, the default output folder, temp.htm and the skins live there. Both
// programs make it their current directory at start-up, so every relative path keeps its meaning. Its
// path is used as the system names it, whatever characters it holds: the core's GBK paths start below it.
#include <optional>
#include <string>
#include <string_view>

// What the choice goes by. Paths are as the system names them; an empty text stands for an unset
// variable.
struct ProgramFolderPlaces {
    std::optional<std::string> given;  // --data-dir
    std::string current;               // the current directory
    bool currentHasConfig = false;     // config.ini is there
    std::string xdgDataHome;           // $XDG_DATA_HOME
    std::string home;                  // $HOME
    std::string accountHome;           // the home of the account's passwd entry
};

// The folder, in this order: the one given; the current one when it holds config.ini (portable use);
// $XDG_DATA_HOME/albumbrowser when XDG_DATA_HOME is absolute; $HOME/.local/share/albumbrowser, the
// account's home standing in for an unset HOME. The current folder when no home is known at all.
std::string ChooseProgramFolder(const ProgramFolderPlaces& places);

// The places as this process finds them; `given` as typed.
ProgramFolderPlaces CurrentProgramFolderPlaces(std::optional<std::string> given);

// Creates the folder with its parents (for the owner only, see kNewFolderMode) and makes it the current
// directory. Empty when done, else the text that says why not (GBK).
std::string EnterProgramFolder(std::string_view folder);
