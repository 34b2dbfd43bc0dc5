#include "catalogue/app_settings.h"

#include <cstdio>

#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/ini_file.h"

namespace {

std::string UserKey(int n) {
    return "user" + std::to_string(n);
}

// Replaces the field only when the key holds at least one byte.
void ReadText(const IniFile& ini, const char* section, const char* key, std::string& field) {
    std::string value = ini.GetString(section, key, "");
    if (!value.empty()) field = std::move(value);
}

std::string Trimmed(const std::string& s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t begin = 0, end = s.size();
    while (begin < end && blank(s[begin])) ++begin;
    while (end > begin && blank(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

}  // namespace

AppSettings::AppSettings(std::string startupDirectory) : startupDirectory(std::move(startupDirectory)) {}

std::string AppSettings::ConfigPath() const {
    return JoinPath(startupDirectory, "config.ini");
}

void AppSettings::Load() {
    IniFile ini;
    ini.Load(ConfigPath());
    ReadText(ini, "proxy", "server", proxyServer);
    ReadText(ini, "proxy", "user", proxyUser);
    ReadText(ini, "proxy", "password", proxyPassword);
    ReadText(ini, "config", "path", outputPath);
    ReadText(ini, "config", "skin", skinFile);
    ReadText(ini, "config", "format", customFormat);
    proxyPort = ini.GetInt("proxy", "port", 80);
    detailMode = ini.GetInt("config", "detail", 0);

    userCount = 0;
    for (int n = 0; n < MaxUsers; ++n) {
        std::string name = ini.GetString("users", UserKey(n), "");
        if (!name.empty()) userNames[userCount++] = std::move(name);
    }
    for (int n = userCount; n < MaxUsers; ++n) userNames[n].clear();
    if (outputPath.empty()) outputPath = startupDirectory;
}

void AppSettings::Save() {
    if (outputPath.empty()) outputPath = startupDirectory;
    while (!outputPath.empty() && outputPath.back() == kPathSeparator) outputPath.pop_back();

    IniFile ini;
    const std::string path = ConfigPath();
    ini.Load(path);
    ini.SetString("proxy", "server", proxyServer);
    ini.SetString("proxy", "port", std::to_string(proxyPort));
    ini.SetString("proxy", "user", proxyUser);
    ini.SetString("proxy", "password", proxyPassword);
    ini.SetString("config", "path", outputPath);
    ini.SetString("config", "skin", skinFile);
    ini.SetString("config", "detail", std::to_string(detailMode));
    ini.SetString("config", "format", customFormat);
    for (int n = 0; n < MaxUsers; ++n) ini.SetString("users", UserKey(n), n < userCount ? userNames[n] : "");
    // The file holds the proxy password in plain text: a new one is for its owner only.
    ini.Save(path, 0600);
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
    if (userCount >= MaxUsers) return GBK("用户列表已满，最多256个用户。");
    const std::string trimmed = Trimmed(name);
    if (!IsValidUserName(trimmed)) return GBK("用户名无效：不能为空、“.”或“..”，也不能包含“/”或控制字符。");
    userNames[userCount++] = trimmed;
    Save();
    return "";
}

bool AppSettings::DeleteUser(int index) {
    if (index < 0 || index >= userCount) return false;
    for (int n = index; n + 1 < userCount; ++n) userNames[n] = std::move(userNames[n + 1]);
    userNames[--userCount].clear();
    Save();
    return true;
}

int AppSettings::FindUser(const std::string& name) const {
    for (int n = 0; n < userCount; ++n) {
        if (userNames[n] == name) return n;
    }
    return -1;
}
