#pragma once
// Helpers shared by the unit tests: temporary folders, files and test data.
#include <filesystem>
#include <string>

#include "platform/codepage.h"
#include "temp_dir.h"
#include "test_files.h"

inline std::string DataFile(const std::string& name) {
    return std::string(ALBUM_TEST_DATA_DIR) + "/" + name;
}

inline bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}

// A GBK text written as UTF-8 in the test.
inline std::string G(const char* utf8) {
    return Utf8ToGbk(utf8);
}
