#include "temp_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

TempDir::TempDir(const std::string& prefix, const std::string& parent) {
    const fs::path folder = parent.empty() ? fs::temp_directory_path() : fs::path(parent);
    std::string pattern = (folder / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder " + pattern);
    path_ = pattern;
    // 0755 as mkdir makes a folder, not mkdtemp's 0700: tests run the programs as another user in it.
    fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
}

TempDir::~TempDir() {
    std::error_code ignored, error;
    // Tests take permissions away to make writes fail; give them back before removing anything. A
    // folder's permissions change before the walk enters it.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto it = fs::recursive_directory_iterator(path_, error); !error && it != fs::end(it);
         it.increment(error)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
}

std::set<std::string> TempDir::Names() const {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(path_, ignored))
        names.insert(entry.path().filename().string());
    return names;
}
