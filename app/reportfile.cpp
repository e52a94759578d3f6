#include "app/reportfile.h"

#include "base/fmt.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

TReportFile::~TReportFile()
{
    if (FFile) {
        std::fclose(FFile);
        ::unlink(FTemporary.c_str());
    }
}

std::string TReportFile::Open()
{
    FTemporary = FPath + ".part-" + std::to_string(::getpid());
    const int handle = ::open(FTemporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (handle < 0)
        return Fmt(SReportNotWritten, FPath, std::strerror(errno));
    FFile = ::fdopen(handle, "w");
    if (!FFile) {
        const int error = errno;
        ::close(handle);
        ::unlink(FTemporary.c_str());
        return Fmt(SReportNotWritten, FPath, std::strerror(error));
    }
    return {};
}

void TReportFile::Add(const std::string& line)
{
    if (!FFile)
        return;
    std::fwrite(line.data(), 1, line.size(), FFile);
    std::fputs("\r\n", FFile);
}

std::string TReportFile::Finish()
{
    if (!FFile)
        return {};
    std::FILE* file = std::exchange(FFile, nullptr);
    int error = std::fflush(file) != 0 || std::ferror(file) ? (errno ? errno : EIO) : 0;
    if (std::fclose(file) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(FTemporary.c_str(), FPath.c_str()) != 0)
        error = errno;
    if (error == 0)
        return {};
    ::unlink(FTemporary.c_str());
    return Fmt(SReportNotWritten, FPath, std::strerror(error));
}
