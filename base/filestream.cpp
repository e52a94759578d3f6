#include "base/filestream.h"

#include "base/exception.h"
#include "base/fmt.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <limits>
#include <unistd.h>
#include <vector>

THandleStream::~THandleStream()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

std::size_t THandleStream::Read(void* buffer, std::size_t count)
{
    auto* target = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(FHandle, target + done, count - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

std::size_t THandleStream::Write(const void* buffer, std::size_t count)
{
    const auto* source = static_cast<const std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t put = ::write(FHandle, source + done, count - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            break;
        done += static_cast<std::size_t>(put);
    }
    return done;
}

std::int64_t THandleStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    int whence = SEEK_SET;
    if (origin == TSeekOrigin::soCurrent)
        whence = SEEK_CUR;
    else if (origin == TSeekOrigin::soEnd)
        whence = SEEK_END;
    const off_t result = ::lseek(FHandle, static_cast<off_t>(offset), whence);
    return result < 0 ? -1 : static_cast<std::int64_t>(result);
}

void THandleStream::SetSize(std::int64_t size)
{
    const std::int64_t position = Position();
    if (::ftruncate(FHandle, static_cast<off_t>(size)) != 0)
        throw EWriteError(SWriteError);
    if (position > size)
        Seek(size, TSeekOrigin::soBeginning);
}

namespace {

// Opens without ever waiting: a FIFO without a writer (or a serial line without carrier) would
// block open() itself, so every open is non-blocking, takes no controlling terminal, and checks
// the kind of file on the opened descriptor, which no rename in between can change. Existing
// files are used only when they are regular files; a name to create may be a device or FIFO
// ("decode x.jpg /dev/null"). Reads and writes block again as usual. Returns the descriptor,
// or -1 with the reason of the failure.
int OpenHandle(const std::string& fileName, std::uint16_t mode, std::string& reason)
{
    int flags = O_RDWR | O_CREAT | O_TRUNC;
    if (mode != fmCreate) {
        flags = O_RDONLY;
        if ((mode & 3) == fmOpenWrite)
            flags = O_WRONLY;
        else if ((mode & 3) == fmOpenReadWrite)
            flags = O_RDWR;
    }
    const int handle = ::open(fileName.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    if (handle < 0) {
        reason = SysErrorMessage(errno);
        return -1;
    }
    struct stat status {};
    if (::fstat(handle, &status) != 0)
        reason = SysErrorMessage(errno);
    else if (S_ISDIR(status.st_mode)) // a folder opens for reading on Linux, but it is no file
        reason = SysErrorMessage(EISDIR);
    else if (mode != fmCreate && !S_ISREG(status.st_mode))
        reason = SNotRegularFile;
    else if (const int fileFlags = ::fcntl(handle, F_GETFL);
             fileFlags < 0 || ::fcntl(handle, F_SETFL, fileFlags & ~O_NONBLOCK) != 0)
        reason = SysErrorMessage(errno);
    else
        return handle;
    ::close(handle);
    return -1;
}

} // namespace

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode)
    : THandleStream(-1), FFileName(fileName)
{
    std::string reason;
    FHandle = OpenHandle(fileName, mode, reason);
    if (FHandle < 0) {
        if (mode == fmCreate)
            throw EFCreateError(Fmt(SFCreateError, ExpandFileName(fileName), reason));
        throw EFOpenError(Fmt(SFOpenError, ExpandFileName(fileName), reason));
    }
}

std::string ExpandFileName(const std::string& fileName)
{
    std::string path = fileName;
    if (path.empty() || path[0] != '/') {
        std::vector<char> buffer(4096);
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            std::string folder(buffer.data());
            if (folder.empty() || folder.back() != '/')
                folder += '/';
            path = folder + path;
        }
    }
    // Fold "." and ".." and repeated separators.
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = path.find('/', start);
        const std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    std::string result;
    for (const auto& part : parts) {
        result += '/';
        result += part;
    }
    if (result.empty())
        result.push_back('/');
    if (path.size() > 1 && path.back() == '/' && result != "/")
        result += '/';
    return result;
}

std::string SysErrorMessage(int errorNumber)
{
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not live in the buffer.
    const char* text = ::strerror_r(errorNumber, buffer, sizeof buffer);
    if (text == nullptr || *text == '\0' || std::strncmp(text, "Unknown error", 13) == 0)
        return Fmt(SUnknownSystemError, errorNumber, "system");
    return text;
}
