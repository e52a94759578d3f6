#include "imaging/tiffdirectory.h"

#include "base/exception.h"
#include "base/stream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <set>

namespace {

enum TTIFFType : std::uint16_t {
    ttByte = 1, ttASCII = 2, ttShort = 3, ttLong = 4, ttRational = 5,
    ttSByte = 6, ttUndefined = 7, ttSShort = 8, ttSLong = 9, ttSRational = 10,
    ttFloat = 11, ttDouble = 12,
};

std::uint16_t Swap16(std::uint16_t value) { return std::uint16_t(value >> 8 | value << 8); }
std::uint32_t Swap32(std::uint32_t value)
{
    return value >> 24 | (value >> 8 & 0xFF00) | (value << 8 & 0xFF0000) | value << 24;
}

bool IsByteType(std::uint16_t type) { return TIFFTypeSize(type) == 1; }
bool IsIntegerType(std::uint16_t type)
{
    return type == ttByte || type == ttSByte || type == ttUndefined || type == ttASCII || type == ttShort
        || type == ttSShort || type == ttLong || type == ttSLong;
}

// Whether the entry's value lies inside the value field. Types 10 and above are always at
// the offset.
bool IsInline(const TTIFFEntry& entry)
{
    const std::uint32_t size = TIFFTypeSize(entry.Type);
    return entry.Type < ttSRational && size != 0 && std::uint64_t(size) * entry.Count <= 4;
}

} // namespace

std::uint32_t TIFFTypeSize(std::uint16_t type)
{
    switch (type) {
    case ttByte: case ttASCII: case ttSByte: case ttUndefined: return 1;
    case ttShort: case ttSShort: return 2;
    case ttLong: case ttSLong: case ttFloat: return 4;
    case ttRational: case ttSRational: case ttDouble: return 8;
    default: return 0;
    }
}

std::uint32_t TTIFFEntry::RawValue() const
{
    std::uint32_t value;
    std::memcpy(&value, Value, 4);
    return value;
}

TTIFFDirectory::TTIFFDirectory(TStream& stream, std::int64_t basePosition, bool bigEndian)
    : FStream(stream), FBasePosition(basePosition), FBigEndian(bigEndian)
{
}

std::uint32_t TTIFFDirectory::Convert32(std::uint32_t value) const
{
    const bool swap = FBigEndian != (std::endian::native == std::endian::big);
    return swap ? Swap32(value) : value;
}

std::uint16_t TTIFFDirectory::Convert16(std::uint16_t value) const
{
    const bool swap = FBigEndian != (std::endian::native == std::endian::big);
    return swap ? Swap16(value) : value;
}

void TTIFFDirectory::SeekChecked(std::uint64_t offset, std::uint64_t size) const
{
    const std::int64_t streamSize = FStream.Size();
    if (FBasePosition < 0 || streamSize < FBasePosition)
        throw EReadError(SReadError);
    const std::uint64_t available = std::uint64_t(streamSize - FBasePosition);
    if (offset > available || size > available - offset)
        throw EReadError(SReadError);
    FStream.SetPosition(FBasePosition + std::int64_t(offset));
}

std::uint16_t TTIFFDirectory::Read16() const
{
    std::uint16_t value;
    FStream.ReadBuffer(&value, 2);
    return Convert16(value);
}

std::uint32_t TTIFFDirectory::Read32() const
{
    std::uint32_t value;
    FStream.ReadBuffer(&value, 4);
    return Convert32(value);
}

bool TTIFFDirectory::ReadHeader(std::uint16_t& version, std::uint32_t& firstOffset)
{
    SeekChecked(0, 8);
    std::uint8_t header[8];
    FStream.ReadBuffer(header, 8);
    if (header[0] == 'I' && header[1] == 'I')
        FBigEndian = false;
    else if (header[0] == 'M' && header[1] == 'M')
        FBigEndian = true;
    else
        return false;
    std::uint16_t rawVersion;
    std::uint32_t rawOffset;
    std::memcpy(&rawVersion, header + 2, 2);
    std::memcpy(&rawOffset, header + 4, 4);
    version = Convert16(rawVersion);
    firstOffset = Convert32(rawOffset);
    return true;
}

bool TTIFFDirectory::ReadDirectory(std::uint32_t firstOffset, std::uint32_t index)
{
    FEntries.clear();
    std::set<std::uint32_t> visited; // a chain that loops back ends the walk
    std::uint32_t offset = firstOffset;
    for (;;) {
        if (offset == 0 || !visited.insert(offset).second)
            return false;
        SeekChecked(offset, 2);
        const std::uint16_t count = Read16();
        if (index == 0) {
            SeekChecked(std::uint64_t(offset) + 2, std::uint64_t(count) * 12);
            std::vector<std::uint8_t> raw(std::size_t(count) * 12);
            FStream.ReadBuffer(raw.data(), raw.size());
            FEntries.resize(count);
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint8_t* bytes = raw.data() + i * 12;
                TTIFFEntry& entry = FEntries[i];
                std::uint16_t tag, type;
                std::uint32_t entryCount;
                std::memcpy(&tag, bytes, 2);
                std::memcpy(&type, bytes + 2, 2);
                std::memcpy(&entryCount, bytes + 4, 4);
                entry.Tag = Convert16(tag);
                entry.Type = Convert16(type);
                entry.Count = Convert32(entryCount);
                std::memcpy(entry.Value, bytes + 8, 4);
                // Inline values are converted one by one by their own width, so that they keep
                // their file order; an offset is converted as one number.
                if (!IsInline(entry) || TIFFTypeSize(entry.Type) == 4) {
                    std::uint32_t value;
                    std::memcpy(&value, entry.Value, 4);
                    value = Convert32(value);
                    std::memcpy(entry.Value, &value, 4);
                } else if (TIFFTypeSize(entry.Type) == 2) {
                    for (int k = 0; k < 4; k += 2) {
                        std::uint16_t value;
                        std::memcpy(&value, entry.Value + k, 2);
                        value = Convert16(value);
                        std::memcpy(entry.Value + k, &value, 2);
                    }
                }
            }
            std::stable_sort(FEntries.begin(), FEntries.end(),
                [](const TTIFFEntry& a, const TTIFFEntry& b) { return a.Tag < b.Tag; });
            return true;
        }
        --index;
        SeekChecked(std::uint64_t(offset) + 2 + std::uint64_t(count) * 12, 4);
        offset = Read32();
    }
}

const TTIFFEntry* TTIFFDirectory::Find(std::uint16_t tag) const
{
    const auto it = std::lower_bound(FEntries.begin(), FEntries.end(), tag,
        [](const TTIFFEntry& entry, std::uint16_t wanted) { return entry.Tag < wanted; });
    return it != FEntries.end() && it->Tag == tag ? &*it : nullptr;
}

std::vector<std::uint8_t> TTIFFDirectory::ValueBlock(const TTIFFEntry& entry, std::uint32_t valueSize) const
{
    const std::uint64_t size = std::uint64_t(valueSize) * entry.Count;
    if (IsInline(entry))
        return std::vector<std::uint8_t>(entry.Value, entry.Value + size);
    SeekChecked(entry.RawValue(), size);
    std::vector<std::uint8_t> block(size);
    FStream.ReadBuffer(block.data(), block.size());
    return block;
}

// Value number index of an integer-typed entry; block holds the values (inline ones already
// in machine order, those read from the offset still in file order).
std::uint32_t TTIFFDirectory::ValueAt(const TTIFFEntry& entry, std::uint32_t index, const std::uint8_t* block) const
{
    const bool inlineValue = IsInline(entry);
    switch (TIFFTypeSize(entry.Type)) {
    case 1:
        return block[index];
    case 2: {
        std::uint16_t value;
        std::memcpy(&value, block + std::size_t(index) * 2, 2);
        return inlineValue ? value : Convert16(value);
    }
    default: {
        std::uint32_t value;
        std::memcpy(&value, block + std::size_t(index) * 4, 4);
        return inlineValue ? value : Convert32(value);
    }
    }
}

std::uint32_t TTIFFDirectory::Integer(std::uint16_t tag, std::uint32_t defaultValue) const
{
    const TTIFFEntry* entry = Find(tag);
    if (!entry)
        return defaultValue;
    if (entry->Count != 1)
        return entry->RawValue();
    switch (entry->Type) {
    case ttByte:
        return entry->Value[0];
    case ttShort:
    case ttSShort: {
        std::uint16_t value;
        std::memcpy(&value, entry->Value, 2);
        return value;
    }
    case ttLong:
    case ttSLong:
        return entry->RawValue();
    default:
        return defaultValue;
    }
}

std::vector<std::uint32_t> TTIFFDirectory::IntegerArray(std::uint16_t tag) const
{
    const TTIFFEntry* entry = Find(tag);
    if (!entry || !IsIntegerType(entry->Type) || entry->Count == 0)
        return {};
    const std::vector<std::uint8_t> block = ValueBlock(*entry, TIFFTypeSize(entry->Type));
    std::vector<std::uint32_t> values(entry->Count);
    for (std::uint32_t i = 0; i < entry->Count; ++i)
        values[i] = ValueAt(*entry, i, block.data());
    return values;
}

std::vector<std::uint8_t> TTIFFDirectory::ByteArray(std::uint16_t tag) const
{
    const TTIFFEntry* entry = Find(tag);
    if (!entry || !IsIntegerType(entry->Type) || entry->Count == 0)
        return {};
    if (IsByteType(entry->Type))
        return ValueBlock(*entry, 1);
    const std::vector<std::uint32_t> values = IntegerArray(tag);
    return std::vector<std::uint8_t>(values.begin(), values.end());
}

float TTIFFDirectory::Float(std::uint16_t tag, float defaultValue) const
{
    const TTIFFEntry* entry = Find(tag);
    if (!entry || entry->Count != 1)
        return defaultValue;
    if (IsIntegerType(entry->Type) && !IsByteType(entry->Type))
        return float(Integer(tag, 0));
    if (entry->Type == ttByte || entry->Type == ttSByte || entry->Type == ttUndefined)
        return float(entry->Value[0]);
    if (entry->Type == ttFloat) { // inline IEEE single
        const std::uint32_t bits = entry->RawValue();
        return std::bit_cast<float>(bits);
    }
    if (entry->Type == ttRational || entry->Type == ttSRational) {
        SeekChecked(entry->RawValue(), 8);
        const std::uint32_t numerator = Read32();
        const std::uint32_t denominator = Read32();
        return denominator == 0 ? 0.0f : float(double(numerator) / denominator);
    }
    return defaultValue;
}

std::vector<float> TTIFFDirectory::FloatArray(std::uint16_t tag) const
{
    const TTIFFEntry* entry = Find(tag);
    if (!entry || entry->Count == 0)
        return {};
    if (IsIntegerType(entry->Type)) {
        const std::vector<std::uint32_t> values = IntegerArray(tag);
        return std::vector<float>(values.begin(), values.end());
    }
    if (entry->Type != ttRational && entry->Type != ttSRational)
        return {};
    const std::vector<std::uint8_t> block = ValueBlock(*entry, 8);
    std::vector<float> values(entry->Count);
    for (std::uint32_t i = 0; i < entry->Count; ++i) {
        std::uint32_t numerator, denominator;
        std::memcpy(&numerator, block.data() + std::size_t(i) * 8, 4);
        std::memcpy(&denominator, block.data() + std::size_t(i) * 8 + 4, 4);
        numerator = Convert32(numerator);
        denominator = Convert32(denominator);
        values[i] = denominator == 0 ? 0.0f : float(double(numerator) / denominator);
    }
    return values;
}

std::vector<std::uint8_t> TTIFFDirectory::RawShorts(std::uint16_t tag, std::uint32_t first, std::uint32_t count) const
{
    const TTIFFEntry* entry = Find(tag);
    if (!entry || entry->Type != ttShort || std::uint64_t(first) + count > entry->Count || count == 0)
        return {};
    if (IsInline(entry[0])) {
        // Inline values are already in machine order; give them back in the file's order.
        std::vector<std::uint8_t> bytes(std::size_t(count) * 2);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint16_t value;
            std::memcpy(&value, entry->Value + (first + i) * 2, 2);
            value = Convert16(value);
            std::memcpy(bytes.data() + i * 2, &value, 2);
        }
        return bytes;
    }
    SeekChecked(std::uint64_t(entry->RawValue()) + std::uint64_t(first) * 2, std::uint64_t(count) * 2);
    std::vector<std::uint8_t> bytes(std::size_t(count) * 2);
    FStream.ReadBuffer(bytes.data(), bytes.size());
    return bytes;
}
