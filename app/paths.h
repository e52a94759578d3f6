#pragma once
#include <cstddef>
#include <string>

// Path helpers. Paths are UTF-8 with "/" as the only separator; folder values end in one "/".
// Positions count from 1; 0 means "not found".

// Position of the last character of text that occurs in set; 0 when none does.
std::size_t PathLastDelimiter(const std::string& set, const std::string& text);
// The text after the last "/" (the whole path without one).
std::string PathFileName(const std::string& path);
// The text up to and including the last "/"; empty without one.
std::string PathFolder(const std::string& path);
// From the last "." to the end, dot included, when that dot comes after the last "/";
// otherwise empty. A name ending in a dot has the extension ".".
std::string PathExtension(const std::string& path);
// The path without its extension, followed by extension (which may be empty).
std::string PathChangeExtension(const std::string& path, const std::string& extension);
// The path without one trailing "/".
std::string PathStripBackslash(const std::string& path);
// True when the path names an existing entry that is not a folder.
bool PathFileExists(const std::string& path);
// True when the path names a regular file (links followed): no folder, FIFO, socket or device.
bool PathRegularFileExists(const std::string& path);
// True when the path names an existing folder.
bool PathFolderExists(const std::string& path);
// True when both paths name the same existing entry (the same device and inode once links,
// "." and ".." are resolved).
bool PathSameEntry(const std::string& first, const std::string& second);
// Creates the folder and every missing parent, from the top down. False when a folder cannot
// be made; EInOutError "Unable to create directory" for an empty path.
bool PathForceFolders(const std::string& path);

// The folder path of target relative to the folder of the file base, with "/" between
// folders: /data/cat.fdb and /data/images/ give images/, /pics/covers/ gives
// ../pics/covers/, /data/ gives an empty text. Folder names compare with exact letter case.
// When one path is absolute and the other is not, there is no common root and target is
// returned unchanged.
std::string PathRelativeTo(const std::string& base, const std::string& target);
