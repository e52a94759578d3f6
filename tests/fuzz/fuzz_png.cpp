// Feeds arbitrary bytes to the PNG reader. Only the errors the reader documents may leave it.
#include "base/stream.h"
#include "imaging/codecs/decoder.h"
#include "imaging/colormanager.h"
#include "imaging/pnggraphic.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TMemoryStream stream(std::span<const std::uint8_t>(data, size));
    TPNGGraphic png;
    try {
        // Headers claiming huge images are refused or decoded by the tests; here they would
        // only spend the fuzzer's memory on background fills.
        if (png.ReadImageInfo(stream, 0)
            && std::uint64_t(png.Properties().Width) * png.Properties().Height > (std::uint64_t(1) << 22))
            return 0;
        stream.SetPosition(0);
        png.LoadStream(stream);
        if (!png.IsEmpty())
            (void)png.Pixel(png.Width() - 1, png.Height() - 1);
    } catch (const EInvalidGraphic&) {
    } catch (const EGraphicCompression&) {
    } catch (const EReadError&) {
    } catch (const EColorConversionError&) {
    }
    return 0;
}
