#include "imaging/codecs/ccitt.h"

#include <algorithm>
#include <array>
#include <span>
#include <stdexcept>
#include <cstring>

namespace {

struct TCode {
    std::int16_t RunLength;
    const char* Bits;
};

// ITU-T T.4 terminating codes (runs 0 to 63) and make-up codes (64 to 1728).
constexpr TCode WhiteCodes[] = {
    {0, "00110101"}, {1, "000111"}, {2, "0111"}, {3, "1000"}, {4, "1011"}, {5, "1100"},
    {6, "1110"}, {7, "1111"}, {8, "10011"}, {9, "10100"}, {10, "00111"}, {11, "01000"},
    {12, "001000"}, {13, "000011"}, {14, "110100"}, {15, "110101"}, {16, "101010"},
    {17, "101011"}, {18, "0100111"}, {19, "0001100"}, {20, "0001000"}, {21, "0010111"},
    {22, "0000011"}, {23, "0000100"}, {24, "0101000"}, {25, "0101011"}, {26, "0010011"},
    {27, "0100100"}, {28, "0011000"}, {29, "00000010"}, {30, "00000011"}, {31, "00011010"},
    {32, "00011011"}, {33, "00010010"}, {34, "00010011"}, {35, "00010100"}, {36, "00010101"},
    {37, "00010110"}, {38, "00010111"}, {39, "00101000"}, {40, "00101001"}, {41, "00101010"},
    {42, "00101011"}, {43, "00101100"}, {44, "00101101"}, {45, "00000100"}, {46, "00000101"},
    {47, "00001010"}, {48, "00001011"}, {49, "01010010"}, {50, "01010011"}, {51, "01010100"},
    {52, "01010101"}, {53, "00100100"}, {54, "00100101"}, {55, "01011000"}, {56, "01011001"},
    {57, "01011010"}, {58, "01011011"}, {59, "01001010"}, {60, "01001011"}, {61, "00110010"},
    {62, "00110011"}, {63, "00110100"},
    {64, "11011"}, {128, "10010"}, {192, "010111"}, {256, "0110111"}, {320, "00110110"},
    {384, "00110111"}, {448, "01100100"}, {512, "01100101"}, {576, "01101000"},
    {640, "01100111"}, {704, "011001100"}, {768, "011001101"}, {832, "011010010"},
    {896, "011010011"}, {960, "011010100"}, {1024, "011010101"}, {1088, "011010110"},
    {1152, "011010111"}, {1216, "011011000"}, {1280, "011011001"}, {1344, "011011010"},
    {1408, "011011011"}, {1472, "010011000"}, {1536, "010011001"}, {1600, "010011010"},
    {1664, "011000"}, {1728, "010011011"},
};

constexpr TCode BlackCodes[] = {
    {0, "0000110111"}, {1, "010"}, {2, "11"}, {3, "10"}, {4, "011"}, {5, "0011"},
    {6, "0010"}, {7, "00011"}, {8, "000101"}, {9, "000100"}, {10, "0000100"},
    {11, "0000101"}, {12, "0000111"}, {13, "00000100"}, {14, "00000111"}, {15, "000011000"},
    {16, "0000010111"}, {17, "0000011000"}, {18, "0000001000"}, {19, "00001100111"},
    {20, "00001101000"}, {21, "00001101100"}, {22, "00000110111"}, {23, "00000101000"},
    {24, "00000010111"}, {25, "00000011000"}, {26, "000011001010"}, {27, "000011001011"},
    {28, "000011001100"}, {29, "000011001101"}, {30, "000001101000"}, {31, "000001101001"},
    {32, "000001101010"}, {33, "000001101011"}, {34, "000011010010"}, {35, "000011010011"},
    {36, "000011010100"}, {37, "000011010101"}, {38, "000011010110"}, {39, "000011010111"},
    {40, "000001101100"}, {41, "000001101101"}, {42, "000011011010"}, {43, "000011011011"},
    {44, "000001010100"}, {45, "000001010101"}, {46, "000001010110"}, {47, "000001010111"},
    {48, "000001100100"}, {49, "000001100101"}, {50, "000001010010"}, {51, "000001010011"},
    {52, "000000100100"}, {53, "000000110111"}, {54, "000000111000"}, {55, "000000100111"},
    {56, "000000101000"}, {57, "000001011000"}, {58, "000001011001"}, {59, "000000101011"},
    {60, "000000101100"}, {61, "000001011010"}, {62, "000001100110"}, {63, "000001100111"},
    {64, "0000001111"}, {128, "000011001000"}, {192, "000011001001"}, {256, "000001011011"},
    {320, "000000110011"}, {384, "000000110100"}, {448, "000000110101"},
    {512, "0000001101100"}, {576, "0000001101101"}, {640, "0000001001010"},
    {704, "0000001001011"}, {768, "0000001001100"}, {832, "0000001001101"},
    {896, "0000001110010"}, {960, "0000001110011"}, {1024, "0000001110100"},
    {1088, "0000001110101"}, {1152, "0000001110110"}, {1216, "0000001110111"},
    {1280, "0000001010010"}, {1344, "0000001010011"}, {1408, "0000001010100"},
    {1472, "0000001010101"}, {1536, "0000001011010"}, {1600, "0000001011011"},
    {1664, "0000001100100"}, {1728, "0000001100101"},
};

// Extended make-up codes (1792 to 2560), EOL and the invalid codes, the same for both colours.
constexpr std::int16_t EOLValue = -1;
constexpr std::int16_t InvalidValue = -2;
constexpr TCode CommonCodes[] = {
    {1792, "00000001000"}, {1856, "00000001100"}, {1920, "00000001101"},
    {1984, "000000010010"}, {2048, "000000010011"}, {2112, "000000010100"},
    {2176, "000000010101"}, {2240, "000000010110"}, {2304, "000000010111"},
    {2368, "000000011100"}, {2432, "000000011101"}, {2496, "000000011110"},
    {2560, "000000011111"},
    {EOLValue, "000000000001"},
    {InvalidValue, "000000001"}, {InvalidValue, "0000000001"}, {InvalidValue, "00000000001"},
    {InvalidValue, "000000000000"},
};

// Node 0 is the root; a child index of 0 means "no child". Nodes that end no code carry the
// invalid value, so a walk that stops inside the tree reads as an invalid code.
void AddCode(TStateArray& states, const TCode& code)
{
    std::size_t node = 0;
    for (const char* bit = code.Bits; *bit; ++bit) {
        if (states[node].RunLength != InvalidValue)
            throw std::logic_error("fax code table: a code is the prefix of another");
        const int branch = *bit - '0';
        if (states[node].NewState[branch] == 0) {
            states[node].NewState[branch] = static_cast<std::int32_t>(states.size());
            states.push_back({{0, 0}, InvalidValue});
        }
        node = static_cast<std::size_t>(states[node].NewState[branch]);
    }
    if (states[node].NewState[0] != 0 || states[node].NewState[1] != 0)
        throw std::logic_error("fax code table: a code is the prefix of another");
    states[node].RunLength = code.RunLength;
}

TStateArray BuildTree(std::span<const TCode> codes)
{
    TStateArray states{{{0, 0}, InvalidValue}};
    for (const TCode& code : codes)
        AddCode(states, code);
    for (const TCode& code : CommonCodes)
        AddCode(states, code);
    return states;
}

const std::uint8_t* ReversedBytes()
{
    static const auto table = [] {
        std::array<std::uint8_t, 256> result{};
        for (int value = 0; value < 256; ++value) {
            int reversed = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (value & (1 << bit))
                    reversed |= 0x80 >> bit;
            result[value] = static_cast<std::uint8_t>(reversed);
        }
        return result;
    }();
    return table.data();
}

// Sets count bits from bit index first on (most significant bit first), clipped at limit.
void SetBits(std::uint8_t* target, std::size_t first, std::size_t count, std::size_t limit)
{
    std::size_t last = std::min(first + count, limit); // one past
    if (first >= last)
        return;
    std::size_t firstByte = first / 8;
    const std::size_t lastByte = (last - 1) / 8;
    const unsigned headMask = 0xFFu >> (first % 8);
    const unsigned tailMask = 0xFFu << (7 - (last - 1) % 8);
    if (firstByte == lastByte) {
        target[firstByte] |= static_cast<std::uint8_t>(headMask & tailMask);
        return;
    }
    target[firstByte++] |= static_cast<std::uint8_t>(headMask);
    std::memset(target + firstByte, 0xFF, lastByte - firstByte);
    target[lastByte] |= static_cast<std::uint8_t>(tailMask);
}

}

TCCITTDecoder::TCCITTDecoder(std::uint32_t options, std::uint32_t width, bool wordAligned, bool bitReversal)
    : FOptions(options), FWidth(width), FWordAligned(wordAligned), FBitReversal(bitReversal),
      FWhiteStates(BuildTree(WhiteCodes)), FBlackStates(BuildTree(BlackCodes))
{
}

void TCCITTDecoder::StartReading(std::uint8_t* source, std::size_t packedSize)
{
    if (FBitReversal) { // FillOrder 2: reversed in the caller's buffer
        const std::uint8_t* reversed = ReversedBytes();
        for (std::size_t index = 0; index < packedSize; ++index)
            source[index] = reversed[source[index]];
    }
    FSource = source;
    FSourceSize = packedSize;
    FBytesLeft = packedSize;
    FBitsLeft = 0;
}

int TCCITTDecoder::PeekBit()
{
    if (FBitsLeft == 0) {
        if (FBytesLeft == 0)
            return -1;
        FCurrentByte = *FSource++;
        --FBytesLeft;
        FBitsLeft = 8;
    }
    return (FCurrentByte >> (FBitsLeft - 1)) & 1;
}

int TCCITTDecoder::NextBit()
{
    const int bit = PeekBit();
    if (bit >= 0)
        --FBitsLeft;
    return bit;
}

void TCCITTDecoder::SkipByte()
{
    FBitsLeft = 0;
    if (FBytesLeft > 0) {
        ++FSource;
        --FBytesLeft;
    }
}

std::int32_t TCCITTDecoder::ReadRun()
{
    const TStateArray& states = FIsBlack ? FBlackStates : FWhiteStates;
    std::int32_t sum = 0;
    for (;;) {
        std::size_t node = 0;
        for (;;) {
            const TStateEntry& entry = states[node];
            if (entry.NewState[0] == 0 && entry.NewState[1] == 0)
                break; // a complete code
            const int bit = PeekBit();
            if (bit < 0)
                return sum; // input used up inside a code
            const std::int32_t child = entry.NewState[bit];
            if (child == 0) {
                if (node == 0) { // cannot happen with complete trees; keeps the walk moving
                    --FBitsLeft;
                    return InvalidValue;
                }
                break; // bit not consumed
            }
            --FBitsLeft;
            node = static_cast<std::size_t>(child);
        }
        const std::int32_t value = states[node].RunLength;
        if (value < 0)
            return value;
        sum += value;
        if (value < 64)
            return sum;
    }
}

void TCCITTDecoder::StartWriting(std::uint8_t* dest, std::size_t unpackedSize)
{
    if (unpackedSize > 0)
        std::memset(dest, 0, unpackedSize);
    FTarget = dest;
    FTargetSize = unpackedSize;
    FRowStart = 0;
    FBitPosition = 0;
    FIsBlack = false;
    FRestWidth = FWidth;
}

bool TCCITTDecoder::WriteRun(std::int32_t length)
{
    if (length > 0) {
        const std::uint32_t count = std::min(static_cast<std::uint32_t>(length), FRestWidth);
        if (FIsBlack)
            SetBits(FTarget, FBitPosition, count, FTargetSize * 8);
        FBitPosition += count;
        FRestWidth -= count;
    }
    return FRestWidth == 0;
}

void TCCITTDecoder::NextRow()
{
    // A row cut short (EOL, invalid code) leaves its remaining pixels white; the next row
    // keeps its place.
    FRowStart += (std::size_t(FWidth) + 7) / 8;
    FBitPosition = FRowStart * 8;
    FIsBlack = false;
    FRestWidth = FWidth;
}

void TCCITTDecoder::StartStrip(std::uint8_t* source, std::size_t packedSize)
{
    StartReading(source, packedSize);
    FAfterEOL = false;
}

void TCCITTFax3Decoder::DecodeRows(std::uint8_t* dest, std::size_t size)
{
    StartWriting(dest, size);
    if (Width() == 0)
        return;
    while (HasInput() && !OutputFull()) {
        if (!FAfterEOL) {
            // Find the EOL: eleven zero bits, then any fill zeros up to the closing 1 bit.
            int zeros = 0;
            int bit = 0;
            while (zeros < 11 && (bit = NextBit()) >= 0)
                zeros = bit == 0 ? zeros + 1 : 0;
            while (bit == 0)
                bit = NextBit();
            if (bit < 0)
                break;
        }
        FAfterEOL = false;
        while (HasInput()) {
            const std::int32_t run = ReadRun();
            if (run == EOLValue) {
                FAfterEOL = true;
                break;
            }
            if (run == InvalidValue || WriteRun(run))
                break;
            SwitchColor();
        }
        NextRow();
    }
}

void TCCITTMHDecoder::DecodeRows(std::uint8_t* dest, std::size_t size)
{
    StartWriting(dest, size);
    if (Width() == 0)
        return;
    while (HasInput() && !OutputFull()) {
        while (HasInput()) {
            const std::int32_t run = ReadRun();
            if (run > 0 && WriteRun(run))
                break;
            SwitchColor(); // a run of 0, EOL or an invalid code only switches the colour
        }
        // Rows start on byte boundaries, with word alignment on even ones.
        SkipToByteBoundary();
        if (WordAligned() && InputPosition() % 2 != 0)
            SkipByte();
        NextRow();
    }
}
