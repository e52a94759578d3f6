// Drives the colour manager with arbitrary descriptions and rows. Buffers are exactly as large
// as a reader must provide for the description, so any routine reading or writing past its
// row shows up under AddressSanitizer. Only EColorConversionError may escape a call.
#include "imaging/colormanager.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

class TInput {
public:
    TInput(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}
    std::uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
    // The bytes left, repeated to fill count bytes (zero when there are none).
    std::vector<std::uint8_t> Fill(std::size_t count)
    {
        std::vector<std::uint8_t> bytes(count);
        for (std::size_t i = 0; i < count && FPos < FSize; ++i)
            bytes[i] = FData[FPos + i % (FSize - FPos)];
        return bytes;
    }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FPos = 0;
};

unsigned SamplesOf(SampleScheme scheme)
{
    switch (scheme) {
    case schGrayAlpha: return 2;
    case schRGB: case schBGR: case schCMY: case schLab: case schYCbCr: case schPhotoYCC: return 3;
    case schRGBA: case schBGRA: case schCMYK: return 4;
    default: return 1;
    }
}

std::size_t Bytes(std::uint64_t pixels, unsigned samples, unsigned bits)
{
    return static_cast<std::size_t>((pixels * samples * bits + 7) / 8);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TInput input(data, size);
    TColorManager manager;
    const auto scheme = [](std::uint8_t value) { return static_cast<SampleScheme>(value % 13); };
    const auto bits = [](std::uint8_t value) { return static_cast<std::uint8_t>(value % 16 + 1); };
    try {
        manager.SetInScheme(scheme(input.Byte()));
        manager.SetOutScheme(scheme(input.Byte()));
        manager.SetInSampleBits(bits(input.Byte()));
        manager.SetOutSampleBits(bits(input.Byte()));
        manager.SetInSamples(static_cast<std::uint8_t>(input.Byte() % 4 + 1));
        manager.SetOutSamples(static_cast<std::uint8_t>(input.Byte() % 4 + 1));
        manager.SetInFlags(input.Byte());
        manager.SetOutFlags(input.Byte());
        const std::uint8_t curve = input.Byte();
        if (curve & 1)
            manager.SetToneCurve((curve >> 1) / 16.0f, input.Byte() / 32.0f - 1);
        if (curve & 0x80) {
            const float weights[3] = { input.Byte() / 255.0f, input.Byte() / 255.0f, input.Byte() / 255.0f };
            manager.SetLumaWeights(std::span<const float>(weights), 1, 1);
        }
        const std::uint32_t count = input.Byte() % 70;
        const std::uint8_t mask = input.Byte();
        const bool planar = input.Byte() & 1;

        // What a reader hands in: the pixels whose mask bit is set, packed.
        std::uint32_t sourcePixels = 0;
        for (std::uint32_t i = 0; i < count; ++i)
            sourcePixels += (mask >> (7 - (i & 7))) & 1;
        const unsigned inSamples = SamplesOf(manager.InScheme());
        const unsigned inBits = manager.InSampleBits();
        std::vector<std::vector<std::uint8_t>> planes;
        if (planar)
            for (unsigned k = 0; k < inSamples; ++k)
                planes.push_back(input.Fill(Bytes(sourcePixels, 1, inBits)));
        else
            planes.push_back(input.Fill(Bytes(sourcePixels, inSamples, inBits)));
        std::vector<const std::uint8_t*> addresses;
        for (auto& plane : planes)
            addresses.push_back(plane.data());
        // A zero-size plane still needs an address; keep it inside a real (empty) buffer.
        std::vector<std::uint8_t> target(Bytes(count, SamplesOf(manager.OutScheme()), manager.OutSampleBits()));
        try {
            manager.TranslateRow(std::span<const std::uint8_t* const>(addresses), target.data(), count, mask);
        } catch (const EColorConversionError&) {
        }

        manager.MakeGrayPalette(input.Byte() & 1);
        const auto kind = static_cast<RawPaletteKind>(input.Byte() % 8);
        const std::uint32_t entries = input.Byte() + 1;
        const bool wide = kind >= rpInterleaved16Triple;
        const bool quad = kind == rpInterleaved8Quad || kind == rpInterleaved16Quad;
        const bool planarPalette = !(kind == rpInterleaved8Triple || kind == rpInterleaved8Quad
            || kind == rpInterleaved16Triple || kind == rpInterleaved16Quad);
        const unsigned sampleBytes = wide ? 2 : 1;
        std::vector<std::vector<std::uint8_t>> palettePlanes;
        if (planarPalette)
            for (int k = 0; k < 3; ++k)
                palettePlanes.push_back(input.Fill(std::size_t(entries) * sampleBytes));
        else
            palettePlanes.push_back(input.Fill(std::size_t(entries) * (quad ? 4 : 3) * sampleBytes));
        std::vector<const std::uint8_t*> paletteAddresses;
        for (auto& plane : palettePlanes)
            paletteAddresses.push_back(plane.data());
        manager.MakeRawPalette(std::span<const std::uint8_t* const>(paletteAddresses), kind, entries, input.Byte() & 1);
    } catch (const EColorConversionError&) {
    }
    return 0;
}
