#include "catalogue/app_settings.h"

#include <algorithm>
#include <cerrno>

#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/ini_file.h"
#include "platform/text_format.h"

namespace {

std::string UserKey(int n) {
    return "user" + std::to_string(n);
}

// Replaces the field only when the key holds at least one byte.
void ReadText(const IniFile& ini, const char* section, const char* key, std::string& field) {
    std::string value = ini.GetString(section, key, "");
    if (!value.empty()) field = std::move(value);
}

// Writes the key only when the file does not already read as the value, so the line of a key that did
// not change stays byte for byte (values longer than the read buffer included).
void Put(IniFile& ini, const char* section, const std::string& key, const std::string& value) {
    if (ini.GetString(section, key, "") != value) ini.SetString(section, key, value);
}

void PutInt(IniFile& ini, const char* section, const char* key, int fallback, int value) {
    if (ini.GetInt(section, key, fallback) != value) ini.SetString(section, key, std::to_string(value));
}

std::string UnreadableText(int error) {
    return GBK("无法读取设置文件config.ini（") + SystemErrorText(error) + GBK("），设置不会被保存。");
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Trimmed(const std::string& s) {
    size_t begin = 0, end = s.size();
    while (begin < end && IsBlank(s[begin])) ++begin;
    while (end > begin && IsBlank(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

// Cuts the trailing separators and the blanks around them: config.ini would not give such blanks back,
// so what a save keeps in memory is what the next load reads.
std::string StripSeparators(const std::string& path) {
    std::string cut = Trimmed(path);
    while (!cut.empty() && (cut.back() == kPathSeparator || IsBlank(cut.back()))) cut.pop_back();
    return cut;
}

// True when the bytes are GBK characters throughout: others do not come back from a round trip.
bool IsWholeGbk(const std::string& gbk) {
    return Utf8ToGbk(GbkToUtf8(gbk)) == gbk;
}

// True when every character of the GBK text is one GBK holds: "?" is what a conversion leaves for one
// it cannot.
bool HoldsOnlyGbk(const std::string& gbk) {
    return gbk.find('?') == std::string::npos && IsWholeGbk(gbk);
}

}  // namespace

AppSettings::AppSettings(std::string startupDirectory) : startupDirectory(std::move(startupDirectory)) {}

std::string AppSettings::ConfigPath() const {
    return JoinPath(startupDirectory, "config.ini");
}

std::string AppSettings::Load() {
    // A save killed between writing and renaming leaves a copy of config.ini, password and all.
    RemoveStaleTemporaryFiles(startupDirectory);
    IniFile ini;
    if (!ini.Load(ConfigPath())) {
        unreadable_ = UnreadableText(errno);
        if (outputPath.empty()) outputPath = startupDirectory;
        return unreadable_;
    }
    ReadText(ini, "proxy", "server", proxyServer);
    ReadText(ini, "proxy", "user", proxyUser);
    ReadText(ini, "proxy", "password", proxyPassword);
    ReadText(ini, "config", "skin", skinFile);
    ReadText(ini, "config", "format", customFormat);
    proxyPort = ini.GetInt("proxy", "port", 80);
    detailMode = static_cast<DetailMode>(ini.GetInt("config", "detail", 0));
    unsigned sizes = 0;
    pictureSizes = ParsePictureSizes(ini.GetString("config", "pictures", ""), sizes) ? sizes : 0;
    connections = std::clamp(ini.GetInt("config", "connections", 4), 1, 16);
    retries = std::clamp(ini.GetInt("config", "retries", 3), 0, 10);
    rate = std::max(ini.GetInt("config", "rate", 0), 0);
    gallery = ini.GetInt("config", "gallery", 1) != 0;
    sidecars = ini.GetInt("config", "sidecars", 1) != 0;
    notifyUrl = ini.GetString("config", "notify_url", "");

    userCount = 0;
    for (int n = 0; n < MaxUsers; ++n) {
        std::string name = ini.GetString("users", UserKey(n), "");
        if (!name.empty()) userNames[userCount++] = std::move(name);
    }
    for (int n = userCount; n < MaxUsers; ++n) userNames[n].clear();

    // A path the file holds as bytes that are no GBK would name another folder than the one meant.
    std::string refusal;
    const std::string path = ini.GetString("config", "path", "");
    if (!IsWholeGbk(path)) {
        refusal = UnsavablePathText(path);
    } else if (!path.empty()) {
        outputPath = path;
    }
    if (outputPath.empty()) outputPath = startupDirectory;
    // The output folder holds temp.htm.
    if (outputPath != startupDirectory) RemoveStaleTemporaryFiles(outputPath);
    return refusal;
}

std::string AppSettings::Save() {
    const std::string wantedPath = StripSeparators(outputPath);
    outputPath = wantedPath.empty() ? startupDirectory : wantedPath;
    if (!unreadable_.empty()) return unreadable_;

    IniFile ini;
    const std::string path = ConfigPath();
    // Saving over a file that could not be read would lose everything it holds.
    if (!ini.Load(path)) {
        unreadable_ = UnreadableText(errno);
        return unreadable_;
    }
    Put(ini, "proxy", "server", proxyServer);
    PutInt(ini, "proxy", "port", 80, proxyPort);
    Put(ini, "proxy", "user", proxyUser);
    Put(ini, "proxy", "password", proxyPassword);
    // The start-up folder stands in for an empty path, or one refused at load, only in memory: written
    // out, a copied folder would go on updating the old one, and a refused path stays as the file has it.
    const std::string storedPath = ini.GetString("config", "path", "");
    if (wantedPath.empty()) {
        Put(ini, "config", "path", "");
    } else if (wantedPath != startupDirectory || (!storedPath.empty() && IsWholeGbk(storedPath))) {
        Put(ini, "config", "path", wantedPath);
    }
    Put(ini, "config", "skin", skinFile);
    PutInt(ini, "config", "detail", 0, detailMode);
    Put(ini, "config", "format", customFormat);
    Put(ini, "config", "pictures", PictureSizesText(pictureSizes));
    PutInt(ini, "config", "connections", 4, connections);
    PutInt(ini, "config", "retries", 3, retries);
    PutInt(ini, "config", "rate", 0, rate);
    PutInt(ini, "config", "gallery", 1, gallery ? 1 : 0);
    PutInt(ini, "config", "sidecars", 1, sidecars ? 1 : 0);
    Put(ini, "config", "notify_url", notifyUrl);
    for (int n = 0; n < MaxUsers; ++n) Put(ini, "users", UserKey(n), n < userCount ? userNames[n] : "");
    // The file holds the proxy password in plain text: for its owner only, whatever it was before.
    if (!ini.Save(path, 0600))
        return GBK("无法保存设置文件config.ini（") + SystemErrorText(errno) + GBK("）。");
    return "";
}

std::string AppSettings::UnsavablePathText(const std::string& path) {
    return Format(GBK("路径中有无法保存的字符：%s").c_str(), path.c_str());
}

bool AppSettings::ParsePictureSizes(const std::string& text, unsigned& sizes) {
    unsigned bits = 0;
    size_t start = 0;
    const std::string all = Trimmed(text);
    while (!all.empty() && start <= all.size()) {
        const size_t comma = std::min(all.find(',', start), all.size());
        const std::string item = Trimmed(all.substr(start, comma - start));
        if (item.size() != 1 || item[0] < '0' || item[0] > '3') return false;
        bits |= 1u << (item[0] - '0');
        start = comma + 1;
    }
    sizes = bits;
    return true;
}

std::string AppSettings::PictureSizesText(unsigned sizes) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (!(sizes & (1u << i))) continue;
        if (!text.empty()) text += ',';
        text += static_cast<char>('0' + i);
    }
    return text;
}

bool AppSettings::IsValidUserName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (const char ch : name) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '/' || c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

std::string AppSettings::AddUser(const std::string& name) {
    if (!unreadable_.empty()) return unreadable_;
    if (userCount >= MaxUsers) return GBK("用户列表已满，最多256个用户。");
    const std::string trimmed = Trimmed(name);
    // A longer name would come back cut from config.ini's read buffer.
    if (!IsValidUserName(trimmed) || trimmed.size() >= IniFile::kReadBufferSize || !HoldsOnlyGbk(trimmed))
        return GBK("用户名无效：不能为空、“.”或“..”，也不能包含“/”或控制字符。");
    userNames[userCount++] = trimmed;
    const std::string failure = Save();
    if (!failure.empty()) userNames[--userCount].clear();
    return failure;
}

std::string AppSettings::DeleteUser(int index) {
    if (!unreadable_.empty()) return unreadable_;
    if (index < 0 || index >= userCount) return GBK("用户列表中没有此用户。");
    const std::string removed = userNames[index];
    for (int n = index; n + 1 < userCount; ++n) userNames[n] = std::move(userNames[n + 1]);
    userNames[--userCount].clear();
    const std::string failure = Save();
    if (!failure.empty()) {
        for (int n = userCount; n > index; --n) userNames[n] = std::move(userNames[n - 1]);
        userNames[index] = removed;
        ++userCount;
    }
    return failure;
}

int AppSettings::FindUser(const std::string& name) const {
    for (int n = 0; n < userCount; ++n) {
        if (userNames[n] == name) return n;
    }
    return -1;
}
