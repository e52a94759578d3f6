#include "imaging/codecs/thunder.h"

#include <algorithm>

namespace {

constexpr int TwoBitDeltas[4] = {0, 1, 0, -1};   // 2 skips
constexpr int ThreeBitDeltas[8] = {0, 1, 2, 3, 0, -3, -2, -1}; // 4 skips
constexpr int TwoBitSkip = 2;
constexpr int ThreeBitSkip = 4;

// Writes 4-bit pixels of one row, two per byte, the first in the high nibble.
class TNibbleRow {
public:
    TNibbleRow(std::uint8_t* row, std::size_t pixels) : FRow(row), FPixels(pixels) {}
    bool Full() const { return FCount >= FPixels; }
    void Set(int value)
    {
        FLast = value & 0x0F;
        if (Full())
            return;
        std::uint8_t& target = FRow[FCount / 2];
        if (FCount % 2 == 0)
            target = static_cast<std::uint8_t>(FLast << 4);
        else
            target = static_cast<std::uint8_t>((target & 0xF0) | FLast);
        ++FCount;
    }
    int Last() const { return FLast; }

private:
    std::uint8_t* FRow;
    std::size_t FPixels;
    std::size_t FCount = 0;
    int FLast = 0;
};

}

void TThunderDecoder::DecodeRows(std::uint8_t* dest, std::size_t unpackedSize)
{
    if (FWidth == 0)
        return;
    // Every row is coded on its own, starting from pixel value 0.
    const std::size_t rowBytes = (std::size_t(FWidth) + 1) / 2;
    const std::uint8_t*& input = FInput;
    const std::uint8_t* const inputEnd = FInputEnd;
    for (std::size_t rowStart = 0; rowStart < unpackedSize; rowStart += rowBytes) {
        // A short last row holds only the pixels that fit.
        const std::size_t pixels = std::min<std::size_t>(FWidth, (unpackedSize - rowStart) * 2);
        TNibbleRow row(dest + rowStart, pixels);
        while (!row.Full() && input < inputEnd) {
            const int code = *input++;
            switch (code >> 6) {
            case 0: // run of the last value
                for (int count = code & 0x3F; count > 0 && !row.Full(); --count)
                    row.Set(row.Last());
                break;
            case 1: // three 2-bit deltas
                for (int shift = 4; shift >= 0; shift -= 2)
                    if (const int delta = (code >> shift) & 3; delta != TwoBitSkip)
                        row.Set(row.Last() + TwoBitDeltas[delta]);
                break;
            case 2: // two 3-bit deltas
                for (int shift = 3; shift >= 0; shift -= 3)
                    if (const int delta = (code >> shift) & 7; delta != ThreeBitSkip)
                        row.Set(row.Last() + ThreeBitDeltas[delta]);
                break;
            default: // raw value
                row.Set(code & 0x0F);
                break;
            }
        }
    }
}
