#pragma once
// The settings record and the user list, mirrored in config.ini in the start-up directory.
#include <string>

// How photo details are obtained during an update. The record keeps whatever number config.ini holds.
enum DetailMode : int { DetailNone = 0, DetailLocal = 1, DetailLocalThenNetwork = 2, DetailNetwork = 3 };
constexpr int DetailModeCount = 4;

class AppSettings {
  public:
    static constexpr int MaxUsers = 256;

    explicit AppSettings(std::string startupDirectory);

    // Reads config.ini into the record; missing or empty keys leave text fields as they are, and an empty
    // output path means the start-up folder. Removes what killed saves left beside it and in the output
    // folder. Returns an empty text, or (GBK) why a config.ini that exists cannot be read: the record
    // then stays as it was and this object saves nothing from then on; or the refusal of an output path
    // that is no GBK text, which is then not used (and left in the file by a save).
    std::string Load();
    // Writes the keys whose values differ from config.ini's, keeping every other line, and replaces the
    // file atomically at mode 0600. Blanks and trailing separators are stripped from outputPath first;
    // the start-up folder is never written for an output path left empty. Returns an empty text or the
    // failure (GBK).
    std::string Save();

    // Trims the name and appends it to the user list, then saves. Returns the refusal text (GBK) when
    // the list is full, the name is invalid or the save fails (the list then stays as it was), else an
    // empty text.
    std::string AddUser(const std::string& name);
    // Removes the entry at the index, moving the later ones down, then saves. Returns the refusal text
    // (GBK) for a bad index or a failed save (the list then stays as it was), else an empty text.
    std::string DeleteUser(int index);
    // Index of the first entry equal to the name, or -1.
    int FindUser(const std::string& name) const;

    // Reads a list of picture sizes such as "0,2" (indices 0 to 3, blanks allowed, empty for none) into
    // a set of bits (bit i for size i); false for anything else.
    static bool ParsePictureSizes(const std::string& text, unsigned& sizes);
    // The list text of a set of picture sizes, "0,2".
    static std::string PictureSizesText(unsigned sizes);

    // The refusal of an output path that GBK cannot hold (GBK; `path` shown as it is).
    static std::string UnsavablePathText(const std::string& path);

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
    DetailMode detailMode = DetailLocalThenNetwork;
    std::string customFormat;
    // Picture backup: the sizes whose pictures are saved (bit i for size i; none by default), parallel
    // connections per host (1 to 16), further attempts after a transient failure (0 to 10), and the
    // most requests per second per host (0 for no limit).
    unsigned pictureSizes = 0;
    int connections = 4;
    int retries = 3;
    int rate = 0;
    // The offline gallery (USER/gallery) after every update and rebuild, and XMP sidecars beside the
    // pictures an update saves.
    bool gallery = true;
    bool sidecars = true;
    // The address an unattended run requests when it ends (with "/fail" appended when it did not end
    // well), for a monitoring service; empty for none.
    std::string notifyUrl;
    int userCount = 0;
    std::string userNames[MaxUsers];

  private:
    // Set once config.ini could not be read: every later save is refused with it.
    std::string unreadable_;
};
