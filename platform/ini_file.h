#pragma once
// An INI profile file with the lookup rules of the classic profile functions: section and key names
// are compared case-insensitively, blanks around names and values are ignored, the first section and
// the first key of a name win, and a write replaces one value while every other line stays as it was,
// line end included.
#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

class IniFile {
  public:
    // Size of the read buffer of GetString: a value is cut to one byte less.
    static constexpr size_t kReadBufferSize = 256;

    // Reads the file; a missing file gives an empty profile. False, with errno saying why and an empty
    // profile, when the file exists but cannot be read.
    bool Load(std::string_view path);

    // Replaces the file atomically with the profile, giving it `mode` less the umask; false, with errno
    // saying why, when it cannot be written.
    bool Save(std::string_view path, mode_t mode = 0644) const;

    // The value of a key, cut to kReadBufferSize - 1 bytes; `fallback` when the key is missing.
    std::string GetString(std::string_view section, std::string_view key, std::string_view fallback) const;

    // The value read as a decimal integer (leading blanks and a sign allowed, reading stops at the first
    // non-digit, saturating at the int range); `fallback` when the key is missing or its value empty.
    int GetInt(std::string_view section, std::string_view key, int fallback) const;

    // Creates or replaces the value of a key, creating the section at the end when needed. Line breaks in
    // the value are written as blanks: one value is one line. New lines end as the file's first line
    // does ("\r\n" in a new file).
    void SetString(std::string_view section, std::string_view key, std::string_view value);

    // The file's text as Save writes it.
    std::string Text() const;

  private:
    // Index of the line of the section header, or -1.
    int FindSection(std::string_view section) const;
    // Index of the key's line within the section starting at sectionLine, or -1.
    int FindKey(int sectionLine, std::string_view key) const;
    // One past the last line that belongs to the section starting at sectionLine.
    int SectionEnd(int sectionLine) const;

    // Inserts a line before `index`, ending as the file's lines end.
    void InsertLine(size_t index, std::string text);

    struct Line {
        std::string text;
        std::string end;  // "\r\n", "\n", "\r", or nothing for a last line without one
    };
    std::vector<Line> lines_;
    std::string newline_ = "\r\n";  // for lines added: the end of the file's first line
};
