#pragma once
// TIFF samples the colour manager has no routine for (depths other than 8 and 16, signed and
// floating-point samples) brought to 8-bit samples, and the predictors those depths use.
#include <cstddef>
#include <cstdint>
#include <vector>

// What the SampleFormat tag says a sample is.
enum class TSampleKind : std::uint8_t { skUnsigned, skSigned, skFloat };

// Reads samples of one depth and kind, packed as the file packs them: multiples of 8 bits from
// 16 up in the file's byte order (or most significant byte first where a predictor put them
// so), other depths as a bit stream, most significant bit first.
class TSampleUnpacker {
public:
    TSampleUnpacker() = default;
    TSampleUnpacker(unsigned bits, TSampleKind kind, bool bigEndian) : FBits(bits), FKind(kind), FBigEndian(bigEndian) {}

    // Unsigned integers of 1 to 32 bits and of 64 bits, signed ones of 2 to 32 and 64 bits,
    // floats of 16, 32 and 64 bits.
    static bool Readable(unsigned bits, TSampleKind kind);

    // count samples into 8-bit ones. Unsigned n-bit v becomes v × 255 ÷ (2^n − 1), fraction
    // cut off (as 16-bit samples are reduced); signed samples are shifted by 2^(n−1) first so
    // that the smallest value is black; floats map 0.0–1.0 to 0–255, rounded, clamped, NaN 0.
    void ToEightBits(const std::uint8_t* source, std::uint8_t* target, std::size_t count) const;
    // count unsigned samples as they are (palette indices); samples above 32 bits give their
    // low 32 bits.
    void ToIndices(const std::uint8_t* source, std::uint32_t* target, std::size_t count) const;
    void SetBigEndian(bool value) { FBigEndian = value; }

private:
    std::uint64_t Raw(const std::uint8_t* source, std::size_t index) const;

    unsigned FBits = 8;
    TSampleKind FKind = TSampleKind::skUnsigned;
    bool FBigEndian = false;
};

// Horizontal differencing (Predictor 2) of 32- or 64-bit samples undone in place, the samples
// added as integers in the file's byte order; samples counts a row's samples, stride the
// samples per pixel.
void UndoWidePredictor(std::uint8_t* row, std::size_t samples, unsigned stride, unsigned bytes, bool bigEndian);

// The floating-point predictor (Predictor 3) undone in place: the row's bytes are summed with
// those stride bytes before, then the byte planes (most significant first) are put back
// together into samples, most significant byte first. scratch is a buffer kept between rows.
void UndoFloatPredictor(std::uint8_t* row, std::size_t samples, unsigned stride, unsigned bytes,
    std::vector<std::uint8_t>& scratch);
