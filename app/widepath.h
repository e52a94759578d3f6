#pragma once
#include "base/filestream.h"
#include "base/stream.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Path, folder and file helpers. Paths are UTF-8 with "/" as the only separator; folder
// values end in one "/". Positions count from 1; 0 means "not found".

// File attribute bits of a folder entry.
inline constexpr std::uint32_t faReadOnly = 0x01;  // not writable by us
inline constexpr std::uint32_t faHidden = 0x02;    // name starts with "."
inline constexpr std::uint32_t faSysFile = 0x04;   // not a regular file, folder or link
inline constexpr std::uint32_t faVolumeID = 0x08;
inline constexpr std::uint32_t faDirectory = 0x10;
inline constexpr std::uint32_t faArchive = 0x20;   // a regular file
inline constexpr std::uint32_t faAnyFile = 0x3F;

// Result codes of the enumeration: 0 success, otherwise an errno value, or this one when
// the folder has no further entry.
inline constexpr int ErrorNoMoreFiles = 18;

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
// True when the path names an existing folder.
bool PathFolderExists(const std::string& path);
// Creates the folder and every missing parent, from the top down. False when a folder cannot
// be made; EInOutError "Unable to create directory" for an empty path.
bool PathForceFolders(const std::string& path);

// The state of one folder enumeration. Closes itself when destroyed.
struct TFolderEntry {
    TFolderEntry() = default;
    TFolderEntry(const TFolderEntry&) = delete;
    TFolderEntry& operator=(const TFolderEntry&) = delete;
    ~TFolderEntry();

    std::string Name;             // the entry's name without folder
    std::uint32_t Attributes = 0; // fa... bits
    std::int64_t Size = 0;        // bytes (files only)
    std::int64_t Time = 0;        // last write, seconds since the epoch
    std::uint32_t ExcludeAttributes = 0;
    void* Handle = nullptr;       // the open enumeration, or none
    std::string Folder;           // folder of the pattern ("" for the current one)
    std::string NamePattern;      // name part of the pattern, matched like a shell pattern
};
using FolderEntry = TFolderEntry;

// Starts an enumeration of pattern ("folder/*", "folder/*.jpg"); entries with hidden (2),
// system (4) or folder (16) bits that mask lacks are skipped. Returns 0 with the first entry,
// else an error code (ErrorNoMoreFiles when nothing matches).
int FolderFindFirst(const std::string& pattern, std::uint32_t mask, TFolderEntry& entry);
// The next entry; 0, or an error code (ErrorNoMoreFiles at the end).
int FolderFindNext(TFolderEntry& entry);
// Ends the enumeration if it is open.
void FolderFindClose(TFolderEntry& entry);

// A file stream opened by name: fmCreate creates or empties the file; other modes open an
// existing one. Failures: "Cannot create file "%s". %s" / "Cannot open file "%s". %s".
class TWideFileStream : public TFileStream {
public:
    TWideFileStream(const std::string& fileName, std::uint16_t mode) : TFileStream(fileName, mode) {}
};

// A memory stream that can take a whole file.
class TWideMemoryStream : public TMemoryStream {
public:
    // Empties the stream and fills it with the file's content (opened read-only, others may
    // only read).
    void LoadFile(const std::string& fileName);
};
