// TIFF loading on arbitrary bytes, twice under different store poison, whole strips and then in
// parts: the two pictures must be the same. Only the documented failures are expected:
// anything else escaping, or a sanitizer report, is a finding.
#include "base/exception.h"
#include "base/stream.h"
#include "imaging/codecs/decoder.h"
#include "imaging/colormanager.h"
#include "imaging/tiffgraphic.h"
#include "tests/fuzz/poisonedtwice.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

const TBitmap* Decode(TTIFFGraphic& tiff, const std::uint8_t* data, std::size_t size)
{
    TMemoryStream stream(std::span<const std::uint8_t>(data, size));
    try {
        TTIFFGraphic info;
        TTIFFGraphic::CanReadStream(stream);
        // Later directories are reachable through ReadImageInfo only.
        for (std::uint32_t index = 3; index > 0; --index)
            info.ReadImageInfo(stream, index);
        if (!info.ReadImageInfo(stream, 0))
            return nullptr;
        // Valid but huge declared sizes only cost memory and time; keep the fuzzer fast.
        if (std::uint64_t(info.Properties().Width) * info.Properties().Height > (1u << 22))
            return nullptr;
        stream.SetPosition(0);
        tiff.LoadStream(stream);
        if (!tiff.IsEmpty() && (tiff.Width() != int(info.Properties().Width) || tiff.Height() != int(info.Properties().Height)))
            __builtin_trap();
        return &tiff;
    } catch (const EInvalidGraphic&) {
    } catch (const EGraphicCompression&) {
    } catch (const EColorConversionError&) {
    } catch (const EReadError&) {
    }
    return nullptr;
}

} // namespace

// The second time every strip and tile is decoded in parts of a few rows, as large ones are:
// the pictures must still be the same.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TTIFFGraphic first, second;
    struct TWholeAgain {
        ~TWholeAgain() { TTIFFGraphic::SetStripPartsForTesting(16 << 20, 1 << 20); }
    } wholeAgain;
    const bool same = poisoned::SameBothTimes(first, second, [&](TTIFFGraphic& tiff) {
        if (&tiff == &second)
            TTIFFGraphic::SetStripPartsForTesting(0, 97);
        return Decode(tiff, data, size);
    });
    if (!same)
        __builtin_trap();
    return 0;
}
