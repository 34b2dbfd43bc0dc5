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

// The process's current directory, as a GBK path; empty when it cannot be read.
std::string CurrentDirectory();

// True when the file can be opened for reading.
bool FileExists(std::string_view path);

// Creates one directory; an existing one, or one that cannot be made, is not an error.
void MakeDirectory(std::string_view path);

// Reads a whole file; false when it cannot be read.
bool ReadWholeFile(std::string_view path, std::string& contents);

// Replaces a file with new contents through a temporary file beside it, so the file is always either
// old or new. A new file gets `newFileMode` (less the umask); an existing one keeps its mode.
// A file that already holds exactly these bytes is left alone. Returns false, leaving the old file
// as it was, when anything fails.
bool WriteFileAtomic(std::string_view path, std::string_view contents, mode_t newFileMode = 0666);

// Removes the temporary files that WriteFileAtomic left in a folder when its process was killed between
// writing and renaming (those of running processes stay).
void RemoveStaleTemporaryFiles(std::string_view folder);
