#include "app/pathrelative.h"

#include <cstddef>
#include <vector>

namespace {

// The folder part: everything up to and including the last "/".
std::string FolderPart(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

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
    const std::vector<std::string> baseParts = SplitFolders(FolderPart(base));
    const std::string targetFolder = FolderPart(target);
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
