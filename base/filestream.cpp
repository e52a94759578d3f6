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

int OpenHandle(const std::string& fileName, std::uint16_t mode)
{
    if (mode == fmCreate)
        return ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    int flags = O_RDONLY;
    if ((mode & 3) == fmOpenWrite)
        flags = O_WRONLY;
    else if ((mode & 3) == fmOpenReadWrite)
        flags = O_RDWR;
    const int handle = ::open(fileName.c_str(), flags | O_CLOEXEC);
    if (handle < 0)
        return handle;
    // A folder opens for reading on Linux, but it is no file: refuse it.
    struct stat status {};
    if (::fstat(handle, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(handle);
        errno = EISDIR;
        return -1;
    }
    return handle;
}

} // namespace

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode)
    : THandleStream(-1), FFileName(fileName)
{
    FHandle = OpenHandle(fileName, mode);
    if (FHandle < 0) {
        const int error = errno;
        if (mode == fmCreate)
            throw EFCreateError(Fmt(SFCreateError, ExpandFileName(fileName), SysErrorMessage(error)));
        throw EFOpenError(Fmt(SFOpenError, ExpandFileName(fileName), SysErrorMessage(error)));
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
    for (const auto& part : parts)
        result += "/" + part;
    if (result.empty())
        result = "/";
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
