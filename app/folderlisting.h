#pragma once
#include <memory>
#include <string>

// Folder enumeration, one entry after the other, as the import pass walks the image folder.

// Result codes of the enumeration: 0 success, otherwise an errno value, or this one when
// the folder has no further entry.
inline constexpr int ErrorNoMoreFiles = 18;

struct TFolderCloser {
    void operator()(void* folder) const noexcept;
};

// The state of one folder enumeration. Closes itself when destroyed.
struct TFolderEntry {
    std::string Name;        // the found entry's name without folder
    std::string Folder;      // folder of the pattern ("" for the current one)
    std::string NamePattern; // name part of the pattern, matched like a shell pattern
    std::unique_ptr<void, TFolderCloser> Handle; // the open enumeration, or none
};

// Starts an enumeration of pattern ("folder/*", "folder/*.jpg"): every entry whose name
// matches, "." and "..", folders and hidden entries included. Returns 0 with the first entry,
// else an error code (ErrorNoMoreFiles when nothing matches).
int FolderFindFirst(const std::string& pattern, TFolderEntry& entry);
// The next entry; 0, or an error code (ErrorNoMoreFiles at the end).
int FolderFindNext(TFolderEntry& entry);
// Ends the enumeration if it is open.
void FolderFindClose(TFolderEntry& entry);
