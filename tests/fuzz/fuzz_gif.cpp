// Feeds arbitrary bytes to the GIF reader, twice under different store poison: the two
// pictures must be the same. Only the errors the reader documents may leave it.
#include "base/stream.h"
#include "imaging/codecs/decoder.h"
#include "imaging/gifgraphic.h"
#include "tests/fuzz/poisonedtwice.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

const TBitmap* Decode(TGIFGraphic& gif, const std::uint8_t* data, std::size_t size)
{
    TMemoryStream stream(std::span<const std::uint8_t>(data, size));
    try {
        // Headers claiming huge images are refused or decoded by the tests; here they would
        // only spend the fuzzer's memory on zero-filled buffers.
        if (gif.ReadImageInfo(stream, 0)
            && std::uint64_t(gif.Properties().Width) * gif.Properties().Height > (std::uint64_t(1) << 22))
            return nullptr;
        stream.SetPosition(0);
        gif.LoadStream(stream);
        if (!gif.IsEmpty())
            (void)gif.Pixel(gif.Width() - 1, gif.Height() - 1);
        return &gif;
    } catch (const EInvalidGraphic&) {
    } catch (const EGraphicCompression&) {
    } catch (const EReadError&) {
    }
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TGIFGraphic first, second;
    if (!poisoned::SameBothTimes(first, second, [&](TGIFGraphic& gif) { return Decode(gif, data, size); }))
        __builtin_trap();
    return 0;
}
