#pragma once
// The settings record and the user list, mirrored in config.ini in the start-up directory.
#include <string>

// How photo details are obtained during an update.
enum DetailMode { DetailNone = 0, DetailLocal = 1, DetailLocalThenNetwork = 2, DetailNetwork = 3 };

class AppSettings {
  public:
    static constexpr int MaxUsers = 256;

    explicit AppSettings(std::string startupDirectory);

    // Reads config.ini into the record; missing or empty keys leave text fields as they are.
    void Load();
    // Writes the record into config.ini, replacing the file atomically and keeping unknown keys.
    // Trailing separators are stripped from outputPath first. Failures are not reported.
    void Save();

    // Trims the name and appends it to the user list, then saves. Returns the refusal text (GBK) when
    // the list is full or the name is invalid, else an empty text.
    std::string AddUser(const std::string& name);
    // Removes the entry at the index, moving the later ones down, then saves. False for a bad index.
    bool DeleteUser(int index);
    // Index of the first entry equal to the name, or -1.
    int FindUser(const std::string& name) const;

    // True for a name fit to be a user folder: not empty, ".", "..", no "/" and no control character.
    static bool IsValidUserName(const std::string& name);

    // The path of config.ini.
    std::string ConfigPath() const;

    const std::string startupDirectory;
    std::string proxyServer;
    int proxyPort = 80;
    std::string proxyUser;
    std::string proxyPassword;
    std::string outputPath;
    std::string skinFile;
    int detailMode = DetailLocalThenNetwork;
    std::string customFormat;
    int userCount = 0;
    std::string userNames[MaxUsers];
};
