#pragma once
// File paths and files. Paths are GBK texts like every core text; the operating system is handed
// UTF-8, whatever the locale.
#include <sys/types.h>

#include <string>
#include <string_view>

// Directory separator of the platform.
constexpr char kPathSeparator = '/';

// Joins two path pieces with the platform separator.
std::string JoinPath(std::string_view folder, std::string_view name);

// The last component of a path (the text after the last separator).
std::string BaseName(std::string_view path);

// A GBK path as the operating system wants it.
std::string ToOsPath(std::string_view gbkPath);

// The process's current directory as the system names it (any bytes); empty when it cannot be read.
std::string OsCurrentDirectory();

// The process's current directory as the core names it: its absolute GBK path when that converts back
// to the same bytes, else "." (a folder GBK cannot name, or none readable), so that paths below it stay
// exact.
std::string CurrentDirectory();

// A GBK path as the system names it, made absolute against the current directory's own bytes.
std::string AbsoluteOsPath(std::string_view gbkPath);

// True when the file can be opened for reading.
bool FileExists(std::string_view path);

// Folders the program makes are for their owner only: caches hold the photos' secrets. Existing ones
// keep their modes.
constexpr mode_t kNewFolderMode = 0700;

// Creates one directory; an existing one, or one that cannot be made, is not an error.
void MakeDirectory(std::string_view path);

// Creates a directory and the missing ones above it; true when it exists afterwards. False, with errno
// saying why, when it cannot be made (or something else stands at the path).
bool MakeDirectories(std::string_view path);
// The same for a path as the system names it.
bool MakeOsDirectories(std::string_view osPath);

// Reads a whole file; false, with errno saying why, when it cannot be read.
bool ReadWholeFile(std::string_view path, std::string& contents);

// Writes all the bytes to the descriptor, going on after interrupted and short writes; false, with
// errno saying why, when a write fails.
bool WriteAll(int fd, std::string_view data);

// Replaces a file with new contents through a temporary file beside it, so the file is always either
// old or new. The file gets the permission bits of `newFileMode` less the umask, never the mode of the
// file it replaces; a link at the path is replaced, not followed. A regular file that already holds
// exactly these bytes with that mode is left alone (`*written`, when given, says whether the file was
// replaced). Returns false, with errno saying why and the old file as it was, when anything fails.
bool WriteFileAtomic(std::string_view path, std::string_view contents, mode_t newFileMode = 0644,
                     bool* written = nullptr);
// The same for a path as the system names it.
bool WriteOsFileAtomic(const std::string& osPath, std::string_view contents, mode_t newFileMode = 0644,
                       bool* written = nullptr);

// "无法写入文件：PATH（why）" (GBK): the text of a file that could not be written.
std::string WriteFailedText(std::string_view path, int error);

// Removes the temporary files that WriteFileAtomic left in a folder when its process was killed between
// writing and renaming (those of running processes stay).
void RemoveStaleTemporaryFiles(std::string_view folder);
