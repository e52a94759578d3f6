// BMP loading on arbitrary bytes, twice under different store poison (the two pictures must be
// the same); a decoded picture is also drawn, converted and written back, so that every path
// that reads the loaded store runs.
#include "base/exception.h"
#include "base/stream.h"
#include "raster/bitmap.h"
#include "raster/canvas.h"
#include "tests/fuzz/poisonedtwice.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

std::int64_t Field(const std::uint8_t* data, std::size_t size, std::size_t offset, int bytes)
{
    if (offset + bytes > size)
        return 0;
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | data[offset + i];
    return bytes == 2 ? std::int64_t(value) : std::int64_t(std::int32_t(value));
}

// Pictures that claim more than 2^20 pixels are allowed by the reader (up to 2^28) but make
// every run slow; the limit itself has its own tests.
bool TooLarge(const std::uint8_t* data, std::size_t size)
{
    const bool core = Field(data, size, 14, 4) == 12;
    const std::int64_t width = Field(data, size, 18, core ? 2 : 4);
    const std::int64_t height = Field(data, size, core ? 20 : 22, core ? 2 : 4);
    return width > 0 && height != 0 && (height < 0 ? -height : height) > (std::int64_t(1) << 20) / width;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (TooLarge(data, size))
        return 0;
    TBitmap bitmap, second;
    const auto decode = [&](TBitmap& target) -> const TBitmap* {
        TMemoryStream stream(std::span<const std::uint8_t>(data, size));
        try {
            target.LoadStream(stream);
            return &target;
        } catch (const EInvalidGraphic&) {
        } catch (const EReadError&) {
        }
        return nullptr;
    };
    if (!poisoned::SameBothTimes(bitmap, second, decode))
        __builtin_trap();
    if (bitmap.IsEmpty())
        return 0;
    TBitmap thumbnail;
    thumbnail.ResizeTo(13, 7);
    thumbnail.Canvas().DrawStretched({ 0, 0, 13, 7 }, &bitmap);
    if (static_cast<std::int64_t>(bitmap.Width()) * bitmap.Height() <= (1 << 18)) {
        TBitmap copy;
        copy.CopyContentFrom(bitmap);
        copy.SetPixelLayout(TPixelLayout::pl24Bit);
        TMemoryStream saved;
        bitmap.SaveStream(saved);
        saved.SetPosition(0);
        TBitmap again;
        again.LoadStream(saved);
        if (again.Width() != bitmap.Width() || again.Height() != bitmap.Height())
            __builtin_trap();
    }
    return 0;
}
