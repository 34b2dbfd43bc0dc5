#pragma once
// The tests' one temporary folder: fresh, and removed with everything in it at the end.
#include <set>
#include <string>

class TempDir {
  public:
    // Creates PREFIX-XXXXXX under `parent`, else under the system's temporary folder ($TMPDIR or /tmp),
    // mode 0755. Throws std::runtime_error when it cannot.
    explicit TempDir(const std::string& prefix = "albumtest", const std::string& parent = {});
    // Removes the folder, also below folders a test left without permissions.
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // The names directly in the folder.
    std::set<std::string> Names() const;

  private:
    std::string path_;
};
