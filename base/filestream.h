#pragma once
#include "base/stream.h"

#include <cstdint>
#include <string>

// Open modes: fmCreate creates (or empties) a file for reading and writing; the other
// modes open an existing file, access in the low two bits, sharing in bits 4 to 7.
inline constexpr std::uint16_t fmCreate = 0xFFFF;
inline constexpr std::uint16_t fmOpenRead = 0x0000;
inline constexpr std::uint16_t fmOpenWrite = 0x0001;
inline constexpr std::uint16_t fmOpenReadWrite = 0x0002;
inline constexpr std::uint16_t fmShareExclusive = 0x0010;
inline constexpr std::uint16_t fmShareDenyWrite = 0x0020;
inline constexpr std::uint16_t fmShareDenyRead = 0x0030;
inline constexpr std::uint16_t fmShareDenyNone = 0x0040;

// A stream over an operating-system file descriptor, which it owns.
class THandleStream : public TStream {
public:
    explicit THandleStream(int handle) : FHandle(handle) {}
    ~THandleStream() override;
    THandleStream(const THandleStream&) = delete;
    THandleStream& operator=(const THandleStream&) = delete;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    void SetSize(std::int64_t size) override;
    int Handle() const { return FHandle; }

protected:
    int FHandle = -1;
};

// A file opened by its UTF-8 name. Failing to open raises EFOpenError
// "Cannot open file "%s". %s", failing to create EFCreateError "Cannot create file "%s". %s",
// with the full path and the system's text for the failure. Opening never blocks: an existing
// file that is no regular file (a FIFO, socket or device) is refused with "Not a regular
// file"; a name to create may be a device or FIFO.
class TFileStream : public THandleStream {
public:
    TFileStream(const std::string& fileName, std::uint16_t mode);
    const std::string& FileName() const { return FFileName; }

private:
    std::string FFileName;
};

// The absolute form of a name (expanded against the current folder, "." and ".." folded).
std::string ExpandFileName(const std::string& fileName);
// The system's text for an error number; "Unspecified error (%d) from system." when it has none.
std::string SysErrorMessage(int errorNumber);
