// TIFF loading on arbitrary bytes. Only the documented failures are expected: anything else
// escaping, or a sanitizer report, is a finding.
#include "base/exception.h"
#include "base/stream.h"
#include "imaging/codecs/decoder.h"
#include "imaging/colormanager.h"
#include "imaging/tiffgraphic.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TMemoryStream stream(std::span<const std::uint8_t>(data, size));
    try {
        TTIFFGraphic info;
        TTIFFGraphic::CanReadStream(stream);
        // Later directories are reachable through ReadImageInfo only.
        for (std::uint32_t index = 3; index > 0; --index)
            info.ReadImageInfo(stream, index);
        if (!info.ReadImageInfo(stream, 0))
            return 0;
        // Valid but huge declared sizes only cost memory and time; keep the fuzzer fast.
        if (std::uint64_t(info.Properties().Width) * info.Properties().Height > (1u << 22))
            return 0;
        stream.SetPosition(0);
        TTIFFGraphic tiff;
        tiff.LoadStream(stream);
        if (!tiff.IsEmpty() && (tiff.Width() != int(info.Properties().Width) || tiff.Height() != int(info.Properties().Height)))
            __builtin_trap();
    } catch (const EInvalidGraphic&) {
    } catch (const EGraphicCompression&) {
    } catch (const EColorConversionError&) {
    } catch (const EReadError&) {
    }
    return 0;
}
