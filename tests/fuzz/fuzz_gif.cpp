// Feeds arbitrary bytes to the GIF reader. Only the errors the reader documents may leave it.
#include "base/stream.h"
#include "imaging/codecs/decoder.h"
#include "imaging/gifgraphic.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TMemoryStream stream(std::span<const std::uint8_t>(data, size));
    TGIFGraphic gif;
    try {
        // Headers claiming huge images are refused or decoded by the tests; here they would
        // only spend the fuzzer's memory on zero-filled buffers.
        if (gif.ReadImageInfo(stream, 0)
            && std::uint64_t(gif.Properties().Width) * gif.Properties().Height > (std::uint64_t(1) << 22))
            return 0;
        stream.SetPosition(0);
        gif.LoadStream(stream);
        if (!gif.IsEmpty())
            (void)gif.Pixel(gif.Width() - 1, gif.Height() - 1);
    } catch (const EInvalidGraphic&) {
    } catch (const EGraphicCompression&) {
    } catch (const EReadError&) {
    }
    return 0;
}
