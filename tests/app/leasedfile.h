#pragma once
#include <string>

namespace importtest {

// Holds a file open under a write lease, as a program that keeps a file to itself: while it
// lasts, an open of the file by anyone else waits for the lease to be given up, and an open
// that must not wait fails at once with EWOULDBLOCK. The kernel ends a lease it was asked to
// give up after /proc/sys/fs/lease-break-time seconds (45 by default); tests finish sooner.
class TLeasedFile {
public:
    explicit TLeasedFile(const std::string& path);
    ~TLeasedFile();
    TLeasedFile(const TLeasedFile&) = delete;
    TLeasedFile& operator=(const TLeasedFile&) = delete;

private:
    int FHandle = -1;
};

} // namespace importtest
