#include "app/enginesetup.h"

#include "base/fmt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool WritableFolder(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)
        && ::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// The default folder serves when this user can write it, or can make it.
bool DefaultLockFolderUsable()
{
    struct stat status {};
    if (::lstat(DefaultLockFolder, &status) == 0)
        return WritableFolder(DefaultLockFolder);
    return errno == ENOENT && WritableFolder("/tmp");
}

// Makes the folder and its missing parents (parents as the umask allows, the folder itself for
// this user alone); true when it is a folder this user can write.
bool MakeOwnFolder(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), 0777);
    ::mkdir(path.c_str(), 0700);
    return WritableFolder(path);
}

} // namespace

std::string PrepareLockFolder()
{
    if (!Environment("FIREBIRD_LOCK").empty() || DefaultLockFolderUsable())
        return {};
    std::string candidates[2];
    if (const std::string runtime = Environment("XDG_RUNTIME_DIR"); runtime.starts_with('/') && WritableFolder(runtime))
        candidates[0] = runtime + "/firebird";
    if (const std::string cache = Environment("XDG_CACHE_HOME"); cache.starts_with('/'))
        candidates[1] = cache + "/images-by-id/firebird";
    else if (const std::string home = Environment("HOME"); home.starts_with('/'))
        candidates[1] = home + "/.cache/images-by-id/firebird";
    for (const std::string& folder : candidates)
        if (!folder.empty() && MakeOwnFolder(folder)) {
            ::setenv("FIREBIRD_LOCK", folder.c_str(), 1);
            return {};
        }
    return Fmt(SNoLockFolder, DefaultLockFolder);
}

std::string EmbeddedUserName() { return Environment("ISC_USER").empty() ? "SYSDBA" : ""; }
