#include "app/folderlisting.h"

#include "app/paths.h"

#include <cerrno>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

namespace {

bool NameMatches(const TFolderEntry& entry, const std::string& name)
{
    const std::string& pattern = entry.NamePattern;
    if (pattern.empty() || pattern == "*" || pattern == "*.*")
        return true;
    return ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
}

// An entry removed since the folder was read is passed over; a link counts, wherever it points.
bool StillThere(const TFolderEntry& entry, const std::string& name)
{
    struct stat status {};
    return ::lstat((entry.Folder + name).c_str(), &status) == 0;
}

// Moves to the next entry that matches.
int FindMatching(TFolderEntry& entry)
{
    auto* folder = static_cast<DIR*>(entry.Handle.get());
    for (;;) {
        errno = 0;
        const dirent* found = ::readdir(folder);
        if (!found)
            return errno != 0 ? errno : ErrorNoMoreFiles;
        std::string name = found->d_name;
        if (NameMatches(entry, name) && StillThere(entry, name)) {
            entry.Name = std::move(name);
            return 0;
        }
    }
}

} // namespace

void TFolderCloser::operator()(void* folder) const noexcept
{
    ::closedir(static_cast<DIR*>(folder));
}

int FolderFindFirst(const std::string& pattern, TFolderEntry& entry)
{
    FolderFindClose(entry);
    entry.Folder = PathFolder(pattern);
    entry.NamePattern = PathFileName(pattern);
    DIR* folder = ::opendir(entry.Folder.empty() ? "." : entry.Folder.c_str());
    if (!folder)
        return errno;
    entry.Handle.reset(folder);
    const int result = FindMatching(entry);
    if (result != 0)
        FolderFindClose(entry);
    return result;
}

int FolderFindNext(TFolderEntry& entry)
{
    if (!entry.Handle)
        return EBADF;
    return FindMatching(entry);
}

void FolderFindClose(TFolderEntry& entry)
{
    entry.Handle.reset();
}
