#pragma once
// Builds small BMP files in memory for tests.
#include <cstdint>
#include <vector>

class TBmpBuilder {
public:
    TBmpBuilder& Info(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t compression = 0,
        std::uint32_t colorsUsed = 0, std::uint32_t imageSize = 0, std::uint16_t planes = 1)
    {
        FHeader.clear();
        U32(FHeader, 40);
        U32(FHeader, static_cast<std::uint32_t>(width));
        U32(FHeader, static_cast<std::uint32_t>(height));
        U16(FHeader, planes);
        U16(FHeader, bits);
        U32(FHeader, compression);
        U32(FHeader, imageSize);
        U32(FHeader, 2835);
        U32(FHeader, 2835);
        U32(FHeader, colorsUsed);
        U32(FHeader, 0);
        return *this;
    }
    TBmpBuilder& Core(std::uint16_t width, std::uint16_t height, std::uint16_t bits)
    {
        FHeader.clear();
        U32(FHeader, 12);
        U16(FHeader, width);
        U16(FHeader, height);
        U16(FHeader, 1);
        U16(FHeader, bits);
        return *this;
    }
    TBmpBuilder& HeaderSize(std::uint32_t size)
    {
        FHeader.resize(size < 4 ? 4 : size, 0);
        FHeader[0] = std::uint8_t(size);
        FHeader[1] = std::uint8_t(size >> 8);
        FHeader[2] = std::uint8_t(size >> 16);
        FHeader[3] = std::uint8_t(size >> 24);
        return *this;
    }
    TBmpBuilder& Masks(std::uint32_t red, std::uint32_t green, std::uint32_t blue)
    {
        U32(FTable, red);
        U32(FTable, green);
        U32(FTable, blue);
        return *this;
    }
    TBmpBuilder& Color(std::uint8_t red, std::uint8_t green, std::uint8_t blue, bool core = false)
    {
        FTable.insert(FTable.end(), { blue, green, red });
        if (!core)
            FTable.push_back(0);
        return *this;
    }
    TBmpBuilder& Pixels(std::vector<std::uint8_t> bytes)
    {
        FPixels.insert(FPixels.end(), bytes.begin(), bytes.end());
        return *this;
    }
    TBmpBuilder& Offset(std::uint32_t offset)
    {
        FOffset = offset;
        FHasOffset = true;
        return *this;
    }
    TBmpBuilder& Signature(char first, char second)
    {
        FSignature[0] = first;
        FSignature[1] = second;
        return *this;
    }
    std::vector<std::uint8_t> Bytes() const
    {
        std::vector<std::uint8_t> out;
        const auto offset = static_cast<std::uint32_t>(14 + FHeader.size() + FTable.size());
        out.push_back(std::uint8_t(FSignature[0]));
        out.push_back(std::uint8_t(FSignature[1]));
        U32(out, static_cast<std::uint32_t>(offset + FPixels.size()));
        U32(out, 0);
        U32(out, FHasOffset ? FOffset : offset);
        out.insert(out.end(), FHeader.begin(), FHeader.end());
        out.insert(out.end(), FTable.begin(), FTable.end());
        out.insert(out.end(), FPixels.begin(), FPixels.end());
        return out;
    }

private:
    static void U16(std::vector<std::uint8_t>& out, std::uint32_t value)
    {
        out.push_back(std::uint8_t(value));
        out.push_back(std::uint8_t(value >> 8));
    }
    static void U32(std::vector<std::uint8_t>& out, std::uint32_t value)
    {
        U16(out, value & 0xFFFF);
        U16(out, value >> 16);
    }
    std::vector<std::uint8_t> FHeader, FTable, FPixels;
    std::uint32_t FOffset = 0;
    bool FHasOffset = false;
    char FSignature[2] = { 'B', 'M' };
};
