#include "platform/ini_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/file_util.h"

namespace {

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The name of a section header line "[name]", or nothing when the line is no header.
bool SectionName(std::string_view line, std::string_view& name) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') return false;
    const size_t close = line.find(']');
    if (close == std::string_view::npos) return false;
    name = Trim(line.substr(1, close - 1));
    return true;
}

// Splits "key = value"; false for comments and lines without "=".
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';') return false;
    const size_t eq = trimmed.find('=');
    if (eq == std::string_view::npos) return false;
    key = Trim(trimmed.substr(0, eq));
    value = Trim(trimmed.substr(eq + 1));
    return true;
}

}  // namespace

bool IniFile::Load(std::string_view path) {
    lines_.clear();
    newline_ = "\r\n";
    std::string text;
    if (!ReadWholeFile(path, text)) return errno == ENOENT;
    // "\r\n", "\n" and a lone "\r" each end a line: a value never holds a line break. Each line keeps
    // its own end, so a save gives back every line it did not change byte for byte.
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        size_t next = end;
        if (end < text.size()) next += text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
        lines_.push_back({text.substr(start, end - start), text.substr(end, next - end)});
        start = next;
    }
    if (!lines_.empty() && !lines_.front().end.empty()) newline_ = lines_.front().end;
    return true;
}

std::string IniFile::Text() const {
    std::string text;
    for (const Line& line : lines_) {
        text += line.text;
        text += line.end;
    }
    return text;
}

void IniFile::InsertLine(size_t index, std::string text) {
    // A last line without its end gets one before anything follows it.
    if (index > 0 && lines_[index - 1].end.empty()) lines_[index - 1].end = newline_;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index), Line{std::move(text), newline_});
}

bool IniFile::Save(std::string_view path, mode_t mode) const {
    return WriteFileAtomic(path, Text(), mode);
}

int IniFile::FindSection(std::string_view section) const {
    const std::string_view wanted = Trim(section);
    std::string_view name;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (SectionName(lines_[i].text, name) && EqualsNoCase(name, wanted)) return static_cast<int>(i);
    }
    return -1;
}

int IniFile::SectionEnd(int sectionLine) const {
    std::string_view name;
    int i = sectionLine + 1;
    while (i < static_cast<int>(lines_.size()) && !SectionName(lines_[i].text, name)) ++i;
    return i;
}

int IniFile::FindKey(int sectionLine, std::string_view key) const {
    const std::string_view wanted = Trim(key);
    const int end = SectionEnd(sectionLine);
    std::string_view name, value;
    for (int i = sectionLine + 1; i < end; ++i) {
        if (KeyValue(lines_[i].text, name, value) && EqualsNoCase(name, wanted)) return i;
    }
    return -1;
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view fallback) const {
    const int sectionLine = FindSection(section);
    const int keyLine = sectionLine < 0 ? -1 : FindKey(sectionLine, key);
    if (keyLine < 0) return std::string(fallback.substr(0, kReadBufferSize - 1));
    std::string_view name, value;
    KeyValue(lines_[keyLine].text, name, value);
    // Blanks the cut leaves at the end are dropped too: a save would write them and the next read
    // would ignore them.
    return std::string(Trim(value.substr(0, kReadBufferSize - 1)));
}

int IniFile::GetInt(std::string_view section, std::string_view key, int fallback) const {
    const std::string value = GetString(section, key, "");
    if (value.empty()) return fallback;
    errno = 0;
    const long n = std::strtol(value.c_str(), nullptr, 10);
    if (n > INT_MAX) return INT_MAX;
    if (n < INT_MIN) return INT_MIN;
    return static_cast<int>(n);
}

void IniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
    std::string line = std::string(Trim(key)) + "=" + std::string(value);
    // A line break inside a value would start a new line of the file, read back as keys or sections.
    for (char& c : line) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    int sectionLine = FindSection(section);
    if (sectionLine < 0) {
        // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about "[" + string.
        std::string header(1, '[');
        header += Trim(section);
        header += ']';
        InsertLine(lines_.size(), std::move(header));
        InsertLine(lines_.size(), std::move(line));
        return;
    }
    const int keyLine = FindKey(sectionLine, key);
    if (keyLine >= 0) {
        lines_[keyLine].text = std::move(line);
        return;
    }
    // After the section's last non-blank line, so blank separators stay between sections.
    int insertAt = SectionEnd(sectionLine);
    while (insertAt > sectionLine + 1 && Trim(lines_[insertAt - 1].text).empty()) --insertAt;
    InsertLine(static_cast<size_t>(insertAt), std::move(line));
}
