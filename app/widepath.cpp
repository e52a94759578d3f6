#include "app/widepath.h"

#include "base/exception.h"

#include <cerrno>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

std::size_t PathLastDelimiter(const std::string& set, const std::string& text)
{
    const std::size_t index = text.find_last_of(set);
    return index == std::string::npos ? 0 : index + 1;
}

std::string PathFileName(const std::string& path)
{
    return path.substr(PathLastDelimiter("/", path));
}

std::string PathFolder(const std::string& path)
{
    return path.substr(0, PathLastDelimiter("/", path));
}

std::string PathExtension(const std::string& path)
{
    const std::size_t position = PathLastDelimiter("./", path);
    if (position > 0 && path[position - 1] == '.')
        return path.substr(position - 1);
    return {};
}

std::string PathChangeExtension(const std::string& path, const std::string& extension)
{
    return path.substr(0, path.size() - PathExtension(path).size()) + extension;
}

std::string PathStripBackslash(const std::string& path)
{
    if (!path.empty() && path.back() == '/')
        return path.substr(0, path.size() - 1);
    return path;
}

bool PathFileExists(const std::string& path)
{
    struct stat status {};
    return !path.empty() && ::stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

bool PathFolderExists(const std::string& path)
{
    struct stat status {};
    return !path.empty() && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool PathForceFolders(const std::string& path)
{
    if (path.empty())
        throw EInOutError(SCannotCreateDir);
    const std::string folder = PathStripBackslash(path);
    // "" is the root itself; a folder that is there needs nothing
    if (folder.empty() || PathFolderExists(folder))
        return true;
    const std::string parent = PathFolder(folder);
    if (parent == folder)
        return true;
    if (!parent.empty() && !PathForceFolders(parent))
        return false;
    return ::mkdir(folder.c_str(), 0777) == 0 || (errno == EEXIST && PathFolderExists(folder));
}

namespace {

// Attributes of one entry: folder 16, dot-name hidden 2, not writable read-only 1, neither
// file nor folder system 4, regular file archive 32.
bool FillEntry(TFolderEntry& entry, const std::string& name)
{
    const std::string path = entry.Folder.empty() ? name : entry.Folder + name;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 && ::lstat(path.c_str(), &status) != 0)
        return false;
    std::uint32_t attributes = 0;
    if (S_ISDIR(status.st_mode))
        attributes |= faDirectory;
    else if (S_ISREG(status.st_mode))
        attributes |= faArchive;
    else
        attributes |= faSysFile;
    if (!name.empty() && name[0] == '.' && name != "." && name != "..")
        attributes |= faHidden;
    if (::access(path.c_str(), W_OK) != 0)
        attributes |= faReadOnly;
    entry.Name = name;
    entry.Attributes = attributes;
    entry.Size = S_ISREG(status.st_mode) ? static_cast<std::int64_t>(status.st_size) : 0;
    entry.Time = static_cast<std::int64_t>(status.st_mtime);
    return true;
}

bool NameMatches(const TFolderEntry& entry, const std::string& name)
{
    const std::string& pattern = entry.NamePattern;
    if (pattern.empty() || pattern == "*" || pattern == "*.*")
        return true;
    return ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
}

// Moves to the next entry that matches and carries no skipped attribute.
int FindMatching(TFolderEntry& entry)
{
    auto* folder = static_cast<DIR*>(entry.Handle);
    for (;;) {
        errno = 0;
        const dirent* found = ::readdir(folder);
        if (!found)
            return errno != 0 ? errno : ErrorNoMoreFiles;
        const std::string name = found->d_name;
        if (!NameMatches(entry, name) || !FillEntry(entry, name))
            continue;
        if ((entry.Attributes & entry.ExcludeAttributes) == 0)
            return 0;
    }
}

} // namespace

TFolderEntry::~TFolderEntry()
{
    FolderFindClose(*this);
}

int FolderFindFirst(const std::string& pattern, std::uint32_t mask, TFolderEntry& entry)
{
    FolderFindClose(entry);
    entry.ExcludeAttributes = ~mask & (faHidden | faSysFile | faDirectory);
    entry.Folder = PathFolder(pattern);
    entry.NamePattern = PathFileName(pattern);
    DIR* folder = ::opendir(entry.Folder.empty() ? "." : entry.Folder.c_str());
    if (!folder)
        return errno;
    entry.Handle = folder;
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
    if (entry.Handle) {
        ::closedir(static_cast<DIR*>(entry.Handle));
        entry.Handle = nullptr;
    }
}

void TWideMemoryStream::LoadFile(const std::string& fileName)
{
    TWideFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(file);
}
