#include "app/paths.h"

#include "base/exception.h"

#include <cerrno>
#include <sys/stat.h>

#include <vector>

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

bool PathRegularFileExists(const std::string& path)
{
    struct stat status {};
    return !path.empty() && ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool PathFolderExists(const std::string& path)
{
    struct stat status {};
    return !path.empty() && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool PathSameEntry(const std::string& first, const std::string& second)
{
    struct stat one {}, other {};
    return !first.empty() && !second.empty() && ::stat(first.c_str(), &one) == 0
        && ::stat(second.c_str(), &other) == 0 && one.st_dev == other.st_dev && one.st_ino == other.st_ino;
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

// Splits at every "/": a leading "/" gives an empty first piece, a trailing one an empty last.
std::vector<std::string> SplitFolders(const std::string& folder)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = folder.find('/', start);
        if (slash == std::string::npos) {
            parts.push_back(folder.substr(start));
            return parts;
        }
        parts.push_back(folder.substr(start, slash - start));
        start = slash + 1;
    }
}

bool IsAbsolute(const std::string& path) { return !path.empty() && path.front() == '/'; }

} // namespace

std::string PathRelativeTo(const std::string& base, const std::string& target)
{
    if (IsAbsolute(base) != IsAbsolute(target))
        return target;
    const std::vector<std::string> baseParts = SplitFolders(PathFolder(base));
    const std::string targetFolder = PathFolder(target);
    const std::vector<std::string> targetParts = SplitFolders(targetFolder);

    std::size_t shared = 0;
    while (shared < baseParts.size() && shared < targetParts.size()
        && baseParts[shared] == targetParts[shared])
        ++shared;

    std::string result;
    // One level up for every base folder below the shared ones; the empty piece after the
    // final "/" is no folder.
    for (std::size_t i = shared; i + 1 < baseParts.size(); ++i)
        result += "../";
    if (shared < targetParts.size()) {
        if (!targetParts[shared].empty())
            result += targetParts[shared] + '/';
        for (std::size_t i = shared + 1; i + 1 < targetParts.size(); ++i)
            result += targetParts[i] + '/';
    }
    return result + target.substr(targetFolder.size());
}
