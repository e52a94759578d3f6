#include "leasedfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

namespace importtest {

TLeasedFile::TLeasedFile(const std::string& path)
{
    // The holder is told by SIGIO that someone wants the file; the default action would end
    // the test.
    std::signal(SIGIO, SIG_IGN);
    FHandle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (FHandle < 0 || ::fcntl(FHandle, F_SETLEASE, F_WRLCK) != 0) {
        if (FHandle >= 0)
            ::close(FHandle);
        throw std::runtime_error("cannot lease " + path);
    }
}

TLeasedFile::~TLeasedFile()
{
    ::fcntl(FHandle, F_SETLEASE, F_UNLCK);
    ::close(FHandle);
}

} // namespace importtest
