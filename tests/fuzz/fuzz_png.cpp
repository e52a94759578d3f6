// Feeds arbitrary bytes to the PNG reader, twice under different store poison: the two
// pictures must be the same. Only the errors the reader documents may leave it.
#include "base/stream.h"
#include "imaging/codecs/decoder.h"
#include "imaging/colormanager.h"
#include "imaging/pnggraphic.h"
#include "tests/fuzz/poisonedtwice.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

const TBitmap* Decode(TPNGGraphic& png, const std::uint8_t* data, std::size_t size)
{
    TMemoryStream stream(std::span<const std::uint8_t>(data, size));
    try {
        // Headers claiming huge images are refused or decoded by the tests; here they would
        // only spend the fuzzer's memory on background fills.
        if (png.ReadImageInfo(stream, 0)
            && std::uint64_t(png.Properties().Width) * png.Properties().Height > (std::uint64_t(1) << 22))
            return nullptr;
        stream.SetPosition(0);
        png.LoadStream(stream);
        if (!png.IsEmpty())
            (void)png.Pixel(png.Width() - 1, png.Height() - 1);
        return &png;
    } catch (const EInvalidGraphic&) {
    } catch (const EGraphicCompression&) {
    } catch (const EReadError&) {
    } catch (const EColorConversionError&) {
    }
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TPNGGraphic first, second;
    if (!poisoned::SameBothTimes(first, second, [&](TPNGGraphic& png) { return Decode(png, data, size); }))
        __builtin_trap();
    return 0;
}
