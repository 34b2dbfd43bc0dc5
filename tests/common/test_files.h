#pragma once
// Whole-file reads and writes for the tests.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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
