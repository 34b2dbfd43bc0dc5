#pragma once
// Whole-file reads and writes, and stand-in programs, for the tests.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The file's bytes; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Files that record runs rather than what was backed up: the ledger and the gallery's stamp change with
// every run, the others only when the backup does.
inline bool IsRunRecord(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    return name.starts_with("archive.sqlite") ||
           (name == ".built" && path.parent_path().filename() == "gallery");
}

// Writes the bytes, creating the folders above the file.
inline void WriteFile(const std::filesystem::path& path, const std::string& contents) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

// A program of the tests' own in `folder`, found first on a PATH that starts there: a shell script that
// adds its arguments to NAME.args beside it, one line per run, each argument in brackets, then runs
// `body`.
inline void WriteStandIn(const std::filesystem::path& folder, const std::string& name,
                         const std::string& body) {
    WriteFile(folder / name,
              "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done >> \"$0.args\"\n"
              "echo >> \"$0.args\"\n" +
                  body + "\n");
    std::filesystem::permissions(folder / name, std::filesystem::perms::owner_all);
}

// The argument lines of the stand-in's runs so far.
inline std::vector<std::string> StandInRuns(const std::filesystem::path& folder, const std::string& name) {
    std::vector<std::string> runs;
    std::istringstream lines(ReadFile(folder / (name + ".args")));
    for (std::string line; std::getline(lines, line);) runs.push_back(line);
    return runs;
}

// The body of a stand-in systemctl for the user's manager, whose timer is enabled while the file
// systemctl.enabled beside it exists.
constexpr const char* kSystemctlStandIn = R"(state="$0.enabled"
case "$*" in
  *"disable --now"*) rm -f "$state" ;;
  *"enable --now"*) : > "$state" ;;
  *" show "*) if [ -e "$state" ]; then s=enabled; n="Tue 2026-06-02 00:31:12 UTC"; else s=disabled; n=; fi
    printf 'LoadState=loaded\nUnitFileState=%s\nNextElapseUSecRealtime=%s\n' "$s" "$n" ;;
esac)";
