#pragma once
// Helpers shared by the unit tests: temporary folders, files and test data.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/codepage.h"
#include "test_files.h"

// A fresh temporary folder, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "albumtest-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

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
