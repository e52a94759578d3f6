#include "app/declaredsize.h"

#include "raster/graphic.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr std::uint64_t PixelBytes = 4;
// JPEG segments looked through before the frame header (EXIF, ICC profile, tables...).
constexpr int JpegSegmentsLooked = 64;
constexpr unsigned TiffEntriesLooked = 1024;

class TPictureFile {
public:
    explicit TPictureFile(const std::string& path)
        : FHandle(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY))
    {
        struct stat status {};
        if (FHandle >= 0 && ::fstat(FHandle, &status) == 0 && S_ISREG(status.st_mode))
            FSize = static_cast<std::uint64_t>(status.st_size);
    }
    TPictureFile(const TPictureFile&) = delete;
    TPictureFile& operator=(const TPictureFile&) = delete;
    ~TPictureFile()
    {
        if (FHandle >= 0)
            ::close(FHandle);
    }
    // 0 for anything but a regular file that could be opened.
    std::uint64_t Size() const { return FSize; }
    bool ReadAt(std::uint64_t offset, void* bytes, std::size_t count) const
    {
        return FSize >= count && offset <= FSize - count
            && ::pread(FHandle, bytes, count, static_cast<off_t>(offset)) == static_cast<ssize_t>(count);
    }

private:
    int FHandle;
    std::uint64_t FSize = 0;
};

std::uint32_t Big16(const std::uint8_t* at) { return (std::uint32_t(at[0]) << 8) | at[1]; }
std::uint32_t Big32(const std::uint8_t* at) { return (Big16(at) << 16) | Big16(at + 2); }
std::uint32_t Little16(const std::uint8_t* at) { return (std::uint32_t(at[1]) << 8) | at[0]; }
std::uint32_t Little32(const std::uint8_t* at) { return (Little16(at + 2) << 16) | Little16(at); }

struct TDeclared {
    std::uint64_t Width = 0, Height = 0;
};

TDeclared JpegFrame(const TPictureFile& file)
{
    std::uint64_t at = 2;
    for (int segment = 0; segment < JpegSegmentsLooked; ++segment) {
        std::array<std::uint8_t, 9> head {};
        if (!file.ReadAt(at, head.data(), 4) || head[0] != 0xFF)
            return {};
        const std::uint8_t marker = head[1];
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame)
            return file.ReadAt(at, head.data(), head.size()) ? TDeclared { Big16(&head[7]), Big16(&head[5]) } : TDeclared {};
        if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA)
            return {};
        at += 2 + Big16(&head[2]);
    }
    return {};
}

TDeclared TiffFirstPicture(const TPictureFile& file, bool little)
{
    const auto u16 = [little](const std::uint8_t* at) { return little ? Little16(at) : Big16(at); };
    const auto u32 = [little](const std::uint8_t* at) { return little ? Little32(at) : Big32(at); };
    std::array<std::uint8_t, 4> word {};
    if (!file.ReadAt(4, word.data(), 4))
        return {};
    const std::uint64_t directory = u32(word.data());
    if (!file.ReadAt(directory, word.data(), 2))
        return {};
    const unsigned entries = std::min<unsigned>(u16(word.data()), TiffEntriesLooked);
    TDeclared declared;
    for (unsigned i = 0; i < entries; ++i) {
        std::array<std::uint8_t, 12> entry {};
        if (!file.ReadAt(directory + 2 + 12 * std::uint64_t(i), entry.data(), entry.size()))
            return {};
        const std::uint32_t tag = u16(&entry[0]), type = u16(&entry[2]);
        const std::uint64_t value = type == 3 ? u16(&entry[8]) : type == 4 ? u32(&entry[8]) : 0;
        if (tag == 256)
            declared.Width = value;
        else if (tag == 257)
            declared.Height = value;
    }
    return declared;
}

TDeclared Declared(const TPictureFile& file)
{
    std::array<std::uint8_t, 26> head {};
    if (!file.ReadAt(0, head.data(), std::min<std::uint64_t>(file.Size(), head.size())))
        return {};
    const std::uint8_t* at = head.data();
    if (std::memcmp(at, "\x89PNG\r\n\x1a\n", 8) == 0)
        return { Big32(at + 16), Big32(at + 20) };
    if (std::memcmp(at, "GIF8", 4) == 0)
        return { Little16(at + 6), Little16(at + 8) };
    if (at[0] == 0xFF && at[1] == 0xD8)
        return JpegFrame(file);
    if (std::memcmp(at, "II*\0", 4) == 0 || std::memcmp(at, "MM\0*", 4) == 0)
        return TiffFirstPicture(file, at[0] == 'I');
    if (at[0] == 'B' && at[1] == 'M') {
        if (Little32(at + 14) == 12) // the core header's 16-bit sides
            return { Little16(at + 18), Little16(at + 20) };
        const auto height = static_cast<std::int32_t>(Little32(at + 22));
        return { Little32(at + 18), height < 0 ? 0 - std::uint64_t(std::int64_t(height)) : std::uint64_t(height) };
    }
    return {};
}

} // namespace

std::uint64_t DeclaredPictureBytes(const std::string& path)
{
    const TPictureFile file(path);
    if (file.Size() == 0)
        return 0;
    const TDeclared declared = Declared(file);
    if (declared.Width == 0 || declared.Height == 0)
        return 0;
    // Sides up to 2^32 each: the product fits in 64 bits.
    return file.Size() + std::min<std::uint64_t>(declared.Width * declared.Height, MaxImagePixels) * PixelBytes;
}
