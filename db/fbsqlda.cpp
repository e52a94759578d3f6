#include "db/fbsqlda.h"

#include "base/fmt.h"
#include "base/text.h"
#include "db/fbconvert.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr std::int64_t Powers10[] = { 1LL, 10LL, 100LL, 1000LL, 10000LL, 100000LL, 1000000LL,
    10000000LL, 100000000LL, 1000000000LL, 10000000000LL, 100000000000LL, 1000000000000LL,
    10000000000000LL, 100000000000000LL, 1000000000000000LL, 10000000000000000LL,
    100000000000000000LL, 1000000000000000000LL };

// The divisor of a negative scale; scales beyond what 64 bits can hold are refused.
std::int64_t ScaleDivisor(int scale)
{
    if (-scale >= static_cast<int>(std::size(Powers10)))
        throw EFbConvertError(SUnexpectedError);
    return Powers10[-scale];
}

// A scaled integer as exact decimal text without trailing zeros: 12345, -2 gives "123.45".
std::string ScaledToText(std::int64_t value, int scale)
{
    const std::int64_t divisor = ScaleDivisor(scale);
    const bool negative = value < 0;
    const auto magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::string text = std::to_string(magnitude / static_cast<std::uint64_t>(divisor));
    std::string fraction = std::to_string(magnitude % static_cast<std::uint64_t>(divisor));
    fraction.insert(0, static_cast<std::size_t>(-scale) - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    if (!fraction.empty())
        text += "." + fraction;
    return (negative && text != "0" ? "-" : "") + text;
}

// Truncation toward zero into 64 bits; values outside that range cannot be converted.
std::int64_t TruncToInt64(double value)
{
    if (!std::isfinite(value) || value >= 9223372036854775808.0 || value < -9223372036854775808.0)
        throw EFbConvertError(SCastError);
    return static_cast<std::int64_t>(value);
}

std::int64_t RoundToInt64(double value)
{
    return TruncToInt64(std::round(value));
}

} // namespace

// ---- TSQLDA ----

TSQLDA::TSQLDA(int count) : FDescriptor(std::max(count, 0)), FOwnBuffers(std::max(count, 0)) {}

TSQLDA::~TSQLDA() = default;

void TSQLDA::Resize(int count)
{
    FDescriptor.Resize(std::max(count, 0));
    FOwnBuffers.resize(static_cast<std::size_t>(FDescriptor.Count()));
}

void TSQLDA::CheckIndex(int index) const
{
    if (index < 0 || index >= FDescriptor.Count())
        throw Exception(Fmt(SFieldNumNotFound, index));
}

bool TSQLDA::IsNull(int index) const
{
    CheckIndex(index);
    const short* indicator = FDescriptor.SqlInd(index);
    return indicator && *indicator == -1;
}

void TSQLDA::SetIsNull(int index, bool value)
{
    CheckIndex(index);
    if (short* indicator = FDescriptor.SqlInd(index))
        *indicator = value ? -1 : 0;
}

namespace {

short BaseType(const TSqlDescriptor& descriptor, int index)
{
    return static_cast<short>(descriptor.SqlType(index) & ~1);
}

// The entry's data, checked to hold at least size bytes.
char* EntryData(const TSqlDescriptor& descriptor, int index, std::size_t size)
{
    char* data = descriptor.SqlData(index);
    const short base = BaseType(descriptor, index);
    const std::size_t room = static_cast<std::size_t>(std::max<short>(descriptor.SqlLen(index), 0))
        + (base == SqlVarying ? 2 : 0);
    if (!data || size > room)
        throw EFbConvertError(SCastError);
    return data;
}

template <typename T>
T Load(const TSqlDescriptor& descriptor, int index)
{
    T value;
    std::memcpy(&value, EntryData(descriptor, index, sizeof value), sizeof value);
    return value;
}

template <typename T>
void Store(const TSqlDescriptor& descriptor, int index, T value)
{
    std::memcpy(EntryData(descriptor, index, sizeof value), &value, sizeof value);
}

// The integer of a 16-, 32- or 64-bit integer or quad entry.
std::int64_t IntegerOf(const TSqlDescriptor& descriptor, int index)
{
    switch (BaseType(descriptor, index)) {
    case SqlShort: return Load<std::int16_t>(descriptor, index);
    case SqlLong: return Load<std::int32_t>(descriptor, index);
    default: return Load<std::int64_t>(descriptor, index); // 64-bit integer, quad
    }
}

void StoreInteger(const TSqlDescriptor& descriptor, int index, std::int64_t value)
{
    switch (BaseType(descriptor, index)) {
    case SqlShort: Store(descriptor, index, static_cast<std::int16_t>(value)); break;
    case SqlLong: Store(descriptor, index, static_cast<std::int32_t>(value)); break;
    default: Store(descriptor, index, value); break;
    }
}

bool IsScalable(short type)
{
    return type == SqlShort || type == SqlLong || type == SqlInt64 || type == SqlQuad;
}

std::string TextOf(const TSqlDescriptor& descriptor, int index)
{
    const std::size_t length = static_cast<std::size_t>(std::max<short>(descriptor.SqlLen(index), 0));
    if (BaseType(descriptor, index) == SqlVarying) {
        const auto stored = Load<std::uint16_t>(descriptor, index);
        return std::string(EntryData(descriptor, index, 2) + 2, std::min<std::size_t>(stored, length));
    }
    return std::string(EntryData(descriptor, index, length), length);
}

TDateTime TimestampOf(const TSqlDescriptor& descriptor, int index)
{
    return TimestampToDateTime(Load<TIscTimestamp>(descriptor, index));
}

} // namespace

TFieldKind TSQLDA::FieldType(int index)
{
    CheckIndex(index);
    const short type = BaseType(FDescriptor, index);
    if (FDescriptor.SqlScale(index) < 0)
        return type == SqlDouble ? fkDoublePrecision : fkNumeric;
    switch (type) {
    case SqlText: return fkChar;
    case SqlVarying: return fkVarchar;
    case SqlShort: return fkSmallint;
    case SqlLong: return fkInteger;
    case SqlQuad: return fkQuad;
    case SqlFloat: case SqlDFloat: return fkFloat;
    case SqlDouble: return fkDoublePrecision;
    case SqlTimestamp: return fkTimestamp;
    case SqlBlob: return fkBlob;
    case SqlTypeDate: return fkDate;
    case SqlTypeTime: return fkTime;
    case SqlInt64: return fkBigint;
    case SqlArray: return fkArray;
    default: return fkUnknown;
    }
}

std::int32_t TSQLDA::AsInteger(int index)
{
    return static_cast<std::int32_t>(AsInt64(index)); // a 64-bit value gives its low 32 bits
}

std::int64_t TSQLDA::AsInt64(int index)
{
    CheckIndex(index);
    if (IsNull(index))
        return 0;
    const short type = BaseType(FDescriptor, index);
    const int scale = FDescriptor.SqlScale(index);
    if (scale < 0) {
        if (IsScalable(type))
            return IntegerOf(FDescriptor, index) / ScaleDivisor(scale);
        if (type == SqlDouble)
            return TruncToInt64(Load<double>(FDescriptor, index));
        throw EFbConvertError(SUnexpectedError);
    }
    switch (type) {
    case SqlVarying: case SqlText: return TextToInt64(TextOf(FDescriptor, index));
    case SqlShort: case SqlLong: case SqlInt64: return IntegerOf(FDescriptor, index);
    case SqlFloat: case SqlDFloat: return TruncToInt64(Load<float>(FDescriptor, index));
    case SqlDouble: return TruncToInt64(Load<double>(FDescriptor, index));
    case SqlTimestamp: return static_cast<std::int64_t>(Load<TIscTimestamp>(FDescriptor, index).Date) - DateOffset;
    case SqlTypeDate: return static_cast<std::int64_t>(Load<std::int32_t>(FDescriptor, index)) - DateOffset;
    case SqlTypeTime: return 0;
    default: throw EFbConvertError(SCastError);
    }
}

double TSQLDA::AsDouble(int index)
{
    CheckIndex(index);
    if (IsNull(index))
        return 0;
    const short type = BaseType(FDescriptor, index);
    const int scale = FDescriptor.SqlScale(index);
    if (scale < 0) {
        if (IsScalable(type))
            return static_cast<double>(IntegerOf(FDescriptor, index)) / static_cast<double>(ScaleDivisor(scale));
        if (type == SqlDouble)
            return Load<double>(FDescriptor, index);
        throw EFbConvertError(SUnexpectedError);
    }
    switch (type) {
    case SqlVarying: case SqlText: return TextToFloat(TextOf(FDescriptor, index));
    case SqlShort: case SqlLong: case SqlInt64: return static_cast<double>(IntegerOf(FDescriptor, index));
    case SqlFloat: case SqlDFloat: return Load<float>(FDescriptor, index);
    case SqlDouble: return Load<double>(FDescriptor, index);
    case SqlTimestamp: return TimestampOf(FDescriptor, index);
    case SqlTypeDate: return static_cast<double>(Load<std::int32_t>(FDescriptor, index)) - DateOffset;
    case SqlTypeTime: return Load<std::uint32_t>(FDescriptor, index) / TimeUnitsPerDay;
    default: throw EFbConvertError(SCastError);
    }
}

TDateTime TSQLDA::AsDateTime(int index)
{
    CheckIndex(index);
    if (IsNull(index))
        return 0;
    switch (BaseType(FDescriptor, index)) {
    case SqlVarying: case SqlText:
        if (FDescriptor.SqlScale(index) >= 0)
            return TextToDateTime(TextOf(FDescriptor, index));
        break;
    case SqlTimestamp: case SqlTypeDate: case SqlTypeTime:
        return AsDouble(index);
    default:
        break;
    }
    return AsDouble(index);
}

TIscQuad TSQLDA::AsQuad(int index)
{
    CheckIndex(index);
    if (IsNull(index))
        return {};
    switch (BaseType(FDescriptor, index)) {
    case SqlQuad: case SqlBlob: case SqlArray: case SqlInt64: return Load<TIscQuad>(FDescriptor, index);
    default: throw EFbConvertError(SCastError);
    }
}

std::string TSQLDA::GetAsString(int index)
{
    CheckIndex(index);
    if (IsNull(index))
        return {};
    const short type = BaseType(FDescriptor, index);
    const int scale = FDescriptor.SqlScale(index);
    if (scale < 0) {
        if (IsScalable(type))
            return ScaledToText(IntegerOf(FDescriptor, index), scale);
        if (type == SqlDouble)
            return FloatToText(Load<double>(FDescriptor, index));
        throw EFbConvertError(SUnexpectedError);
    }
    switch (type) {
    case SqlShort: case SqlLong: case SqlInt64: return std::to_string(IntegerOf(FDescriptor, index));
    case SqlFloat: case SqlDFloat: return FloatToText(Load<float>(FDescriptor, index));
    case SqlDouble: return FloatToText(Load<double>(FDescriptor, index));
    case SqlVarying: case SqlText: return TextOf(FDescriptor, index);
    case SqlTimestamp: return DateTimeToText(TimestampOf(FDescriptor, index));
    case SqlTypeDate: return DateToText(AsDouble(index));
    case SqlTypeTime: return TimeToText(AsDouble(index));
    default: throw EFbConvertError(SCastError);
    }
}

std::u16string TSQLDA::GetAsWideString(int index)
{
    return Utf8ToUtf16(GetAsString(index));
}

TFbVariant TSQLDA::GetAsVariant(int index)
{
    CheckIndex(index);
    if (IsNull(index))
        return std::monostate();
    const short type = BaseType(FDescriptor, index);
    if (FDescriptor.SqlScale(index) < 0)
        return AsDouble(index);
    switch (type) {
    case SqlShort: case SqlLong: return static_cast<std::int32_t>(IntegerOf(FDescriptor, index));
    case SqlInt64: return IntegerOf(FDescriptor, index);
    case SqlFloat: case SqlDFloat: case SqlDouble: case SqlTimestamp: case SqlTypeDate: case SqlTypeTime:
        return AsDouble(index);
    case SqlVarying: case SqlText: return TextOf(FDescriptor, index);
    default: throw EFbConvertError(SCastError);
    }
}

char* TSQLDA::TextBuffer(int index, std::size_t size, short sqlLen)
{
    std::vector<char>& buffer = FOwnBuffers[static_cast<std::size_t>(index)];
    buffer.assign(std::max<std::size_t>(size, 1), 0);
    FDescriptor.SetSqlData(index, buffer.data());
    FDescriptor.SetSqlLen(index, sqlLen);
    return buffer.data();
}

void TSQLDA::StoreText(int index, const std::string& text)
{
    if (text.size() > 32765) // the longest text an entry can describe
        throw EFbConvertError(SCastError);
    const auto length = static_cast<short>(text.size());
    if (BaseType(FDescriptor, index) == SqlVarying) {
        char* data = TextBuffer(index, std::max<std::size_t>(text.size() + 2, 4), length);
        const auto stored = static_cast<std::uint16_t>(text.size());
        std::memcpy(data, &stored, 2);
        std::memcpy(data + 2, text.data(), text.size());
    } else {
        char* data = TextBuffer(index, text.size(), length);
        std::memcpy(data, text.data(), text.size());
    }
}

void TSQLDA::SetAsInt64(int index, std::int64_t value)
{
    CheckIndex(index);
    const short type = BaseType(FDescriptor, index);
    const int scale = FDescriptor.SqlScale(index);
    if (scale < 0) {
        if (IsScalable(type))
            StoreInteger(FDescriptor, index, static_cast<std::int64_t>(
                static_cast<std::uint64_t>(value) * static_cast<std::uint64_t>(ScaleDivisor(scale))));
        else if (type == SqlDouble)
            Store(FDescriptor, index, static_cast<double>(value));
        else
            throw EFbConvertError(SUnexpectedError);
    } else {
        switch (type) {
        case SqlShort: case SqlLong: case SqlInt64: StoreInteger(FDescriptor, index, value); break;
        case SqlFloat: case SqlDFloat: Store(FDescriptor, index, static_cast<float>(value)); break;
        case SqlDouble: Store(FDescriptor, index, static_cast<double>(value)); break;
        case SqlTimestamp: case SqlTypeDate: {
            if (value < INT32_MIN + DateOffset || value > INT32_MAX - DateOffset)
                throw EFbConvertError(SCastError);
            const auto day = static_cast<std::int32_t>(value + DateOffset);
            if (type == SqlTimestamp)
                Store(FDescriptor, index, TIscTimestamp { day, 0 });
            else
                Store(FDescriptor, index, day);
            break;
        }
        case SqlTypeTime: Store(FDescriptor, index, std::uint32_t(0)); break;
        case SqlVarying: case SqlText: StoreText(index, std::to_string(value)); break;
        default: throw EFbConvertError(SCastError);
        }
    }
    SetIsNull(index, false);
}

void TSQLDA::SetAsInteger(int index, std::int32_t value) { SetAsInt64(index, value); }
void TSQLDA::SetAsSmallint(int index, std::int16_t value) { SetAsInt64(index, value); }
void TSQLDA::SetAsBoolean(int index, bool value) { SetAsInt64(index, value ? 1 : 0); }
void TSQLDA::SetAsSingle(int index, float value) { SetAsDouble(index, value); }

void TSQLDA::SetAsDouble(int index, double value)
{
    CheckIndex(index);
    const short type = BaseType(FDescriptor, index);
    const int scale = FDescriptor.SqlScale(index);
    if (scale < 0) {
        // Rounded, not truncated: 1.15 must store 115 although 1.15 * 100 is 114.999...
        if (IsScalable(type))
            StoreInteger(FDescriptor, index, RoundToInt64(value * static_cast<double>(ScaleDivisor(scale))));
        else if (type == SqlDouble)
            Store(FDescriptor, index, value);
        else
            throw EFbConvertError(SUnexpectedError);
    } else {
        switch (type) {
        case SqlShort: case SqlLong: case SqlInt64: StoreInteger(FDescriptor, index, TruncToInt64(value)); break;
        case SqlFloat: case SqlDFloat: Store(FDescriptor, index, static_cast<float>(value)); break;
        case SqlDouble: Store(FDescriptor, index, value); break;
        case SqlTimestamp: case SqlTypeDate: case SqlTypeTime: SetAsDateTime(index, value); return;
        case SqlVarying: case SqlText: StoreText(index, FloatToText(value)); break;
        default: throw EFbConvertError(SCastError);
        }
    }
    SetIsNull(index, false);
}

void TSQLDA::SetAsCurrency(int index, double value)
{
    SetAsDouble(index, std::round(value * 10000.0) / 10000.0); // currency keeps four decimals
}

void TSQLDA::SetAsString(int index, const std::string& value)
{
    CheckIndex(index);
    const short type = BaseType(FDescriptor, index);
    const int scale = FDescriptor.SqlScale(index);
    if (scale < 0) {
        if (IsScalable(type))
            StoreInteger(FDescriptor, index, RoundToInt64(TextToFloat(value) * static_cast<double>(ScaleDivisor(scale))));
        else if (type == SqlDouble)
            Store(FDescriptor, index, TextToFloat(value));
        else
            throw EFbConvertError(SUnexpectedError);
    } else {
        switch (type) {
        case SqlTypeTime: {
            const TDateTime time = TextToTime(value);
            Store(FDescriptor, index, DateTimeToTimestamp(time).Time);
            break;
        }
        case SqlTimestamp: Store(FDescriptor, index, DateTimeToTimestamp(TextToDateTime(value))); break;
        case SqlTypeDate:
            Store(FDescriptor, index, static_cast<std::int32_t>(std::floor(TextToDate(value)) + DateOffset));
            break;
        case SqlFloat: case SqlDFloat: Store(FDescriptor, index, static_cast<float>(TextToFloat(value))); break;
        case SqlDouble: Store(FDescriptor, index, TextToFloat(value)); break;
        case SqlShort: case SqlLong: case SqlInt64: {
            // Whole numbers are taken exactly; other numbers are truncated toward zero.
            std::int64_t number = 0;
            if (!TryTextToInt64(value, number))
                number = TruncToInt64(TextToFloat(value));
            StoreInteger(FDescriptor, index, number);
            break;
        }
        case SqlVarying: case SqlText: StoreText(index, value); break;
        default: throw EFbConvertError(SCastError);
        }
    }
    SetIsNull(index, false);
}

void TSQLDA::SetAsWideString(int index, const std::u16string& value)
{
    SetAsString(index, Utf16ToUtf8(value));
}

void TSQLDA::SetAsQuad(int index, const TIscQuad& value)
{
    CheckIndex(index);
    switch (BaseType(FDescriptor, index)) {
    case SqlQuad: case SqlBlob: case SqlArray: case SqlInt64: Store(FDescriptor, index, value); break;
    default: throw EFbConvertError(SCastError);
    }
    SetIsNull(index, false);
}

void TSQLDA::SetAsDateTime(int index, TDateTime value)
{
    CheckIndex(index);
    const TIscTimestamp stamp = DateTimeToTimestamp(value);
    if (FDescriptor.SqlScale(index) < 0) {
        SetAsDouble(index, value);
        return;
    }
    switch (BaseType(FDescriptor, index)) {
    case SqlTimestamp: Store(FDescriptor, index, stamp); break;
    case SqlTypeDate: Store(FDescriptor, index, stamp.Date); break;
    case SqlTypeTime: Store(FDescriptor, index, stamp.Time); break;
    case SqlVarying: case SqlText: StoreText(index, DateTimeToText(value)); break;
    case SqlFloat: case SqlDFloat: case SqlDouble: SetAsDouble(index, value); return;
    case SqlShort: case SqlLong: case SqlInt64: StoreInteger(FDescriptor, index, TruncToInt64(value)); break;
    default: throw EFbConvertError(SCastError);
    }
    SetIsNull(index, false);
}

void TSQLDA::SetAsDate(int index, TDateTime value)
{
    CheckIndex(index);
    if (BaseType(FDescriptor, index) == SqlVarying || BaseType(FDescriptor, index) == SqlText) {
        StoreText(index, DateToText(value));
        SetIsNull(index, false);
        return;
    }
    SetAsDateTime(index, std::trunc(value));
}

void TSQLDA::SetAsTime(int index, TDateTime value)
{
    CheckIndex(index);
    const double fraction = std::fabs(value - std::trunc(value));
    if (BaseType(FDescriptor, index) == SqlVarying || BaseType(FDescriptor, index) == SqlText) {
        StoreText(index, TimeToText(fraction));
        SetIsNull(index, false);
        return;
    }
    SetAsDateTime(index, fraction);
}

void TSQLDA::SetAsGUID(int index, const std::array<std::uint8_t, 16>& value)
{
    CheckIndex(index);
    if (std::all_of(value.begin(), value.end(), [](std::uint8_t b) { return b == 0; }) && FDescriptor.SqlInd(index)) {
        SetIsNull(index, true); // the empty identifier is stored as null
        return;
    }
    const short type = BaseType(FDescriptor, index);
    if (type != SqlVarying && type != SqlText)
        throw EFbConvertError(SCastError);
    StoreText(index, std::string(value.begin(), value.end()));
    SetIsNull(index, false);
}

int TSQLDA::GetFieldIndex(const std::string& name)
{
    for (int i = 0; i < FieldCount(); ++i)
        if (SameTextAscii(FDescriptor.AliasName(i), name))
            return i;
    throw Exception(Fmt(SFieldNotFound, name));
}

std::string TSQLDA::SqlName(int index) const
{
    CheckIndex(index);
    return FDescriptor.SqlName(index);
}

std::string TSQLDA::RelName(int index) const
{
    CheckIndex(index);
    return FDescriptor.RelName(index);
}

std::string TSQLDA::AliasName(int index) const
{
    CheckIndex(index);
    return FDescriptor.AliasName(index);
}

// ---- TSQLResult ----

TSQLResult::TSQLResult(int count, unsigned bufferChunks, bool fetchBlobs, bool cachedFetch)
    : TSQLDA(count), FCachedFetch(cachedFetch), FFetchBlobs(fetchBlobs), FBufferChunks(std::max(bufferChunks, 1u))
{
}

TSQLResult::~TSQLResult() = default;

void TSQLResult::Resize(int count)
{
    ClearRecords();
    FDataBlock.clear();
    FDataSize = 0;
    FBlobColumns.clear();
    TSQLDA::Resize(count);
}

void TSQLResult::AllocateDataBuffer()
{
    // Each column's data starts on an 8-byte boundary and its indicator on a 2-byte one.
    const auto align = [](std::size_t offset, std::size_t to) { return (offset + to - 1) / to * to; };
    const auto count = static_cast<std::size_t>(FieldCount());
    std::vector<std::size_t> dataOffsets(count), indicatorOffsets(count, SIZE_MAX);
    std::size_t total = 0;
    FBlobColumns.clear();
    for (int i = 0; i < FieldCount(); ++i) {
        const short type = static_cast<short>(FDescriptor.SqlType(i) & ~1);
        std::size_t size = static_cast<std::size_t>(std::max<short>(FDescriptor.SqlLen(i), 0));
        if (type == SqlVarying) {
            size += 2;
        } else if (type == SqlBlob) {
            size += 8; // after the id: the slot of the bytes read at fetch time
            FBlobColumns.push_back(i);
        } else if (type == SqlArray) {
            for (const TArrayColumn& column : FArrayColumns)
                if (column.Index == i)
                    size += column.DataSize;
        }
        total = align(total, 8);
        dataOffsets[static_cast<std::size_t>(i)] = total;
        total += size;
        if (FDescriptor.SqlType(i) & 1) {
            total = align(total, 2);
            indicatorOffsets[static_cast<std::size_t>(i)] = total;
            total += 2;
        }
    }
    FDataSize = std::max<std::size_t>(align(total, 8), 8);
    FDataBlock.assign((FDataSize + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t), std::max_align_t {});
    char* block = reinterpret_cast<char*>(FDataBlock.data());
    std::memset(block, 0, FDataSize);
    for (std::size_t i = 0; i < count; ++i) {
        const int index = static_cast<int>(i);
        FDescriptor.SetSqlData(index, block + dataOffsets[i]);
        FDescriptor.SetSqlInd(index, indicatorOffsets[i] == SIZE_MAX ? nullptr
                                                                    : reinterpret_cast<short*>(block + indicatorOffsets[i]));
    }
}

std::uint32_t& TSQLResult::BlobSlot(int index)
{
    char* data = EntryData(FDescriptor, index, 8);
    return *reinterpret_cast<std::uint32_t*>(data + std::max<short>(FDescriptor.SqlLen(index), 8));
}

void TSQLResult::SetBlob(int index, std::vector<char> bytes)
{
    std::uint32_t& slot = BlobSlot(index);
    if (!FCachedFetch && slot != 0 && slot <= FBlobStore.size()) {
        FBlobStore[slot - 1] = std::move(bytes);
        return;
    }
    FBlobStore.push_back(std::move(bytes));
    slot = static_cast<std::uint32_t>(FBlobStore.size());
}

std::span<const char> TSQLResult::BlobData(int index)
{
    CheckIndex(index);
    if (!FFetchBlobs)
        throw Exception(SFetchBlobNotSet);
    if ((FDescriptor.SqlType(index) & ~1) != SqlBlob)
        throw EFbConvertError(SCastError);
    if (IsNull(index))
        return {};
    const std::uint32_t slot = BlobSlot(index);
    if (slot == 0 || slot > FBlobStore.size())
        return {};
    return FBlobStore[slot - 1];
}

std::span<const char> TSQLResult::ArrayData(int index)
{
    CheckIndex(index);
    for (const TArrayColumn& column : FArrayColumns)
        if (column.Index == index)
            return { FDescriptor.SqlData(index) + std::max<short>(FDescriptor.SqlLen(index), 0), column.DataSize };
    throw EFbConvertError(SCastError);
}

void TSQLResult::AppendToCache()
{
    if (FDataSize == 0)
        return;
    if (!FCache)
        FCache = std::make_unique<TPoolStream>(FBufferChunks, FDataSize);
    std::memcpy(FCache->Add(), FDataBlock.data(), FDataSize);
    FCurrentRecord = static_cast<int>(FCache->ItemCount()) - 1;
}

void TSQLResult::ClearRecords()
{
    FEndOfCursor = false;
    FPastLastRow = false;
    FCache.reset();
    FBlobStore.clear();
    FCurrentRecord = -1;
    if (!FDataBlock.empty()) // blob slots of the live row pointed into the freed store
        for (const int index : FBlobColumns)
            BlobSlot(index) = 0;
}

int TSQLResult::RecordCount() const
{
    return FCache ? static_cast<int>(FCache->ItemCount()) : 0;
}

int TSQLResult::CurrentRecord() const
{
    return FCache ? FCurrentRecord : -1;
}

void TSQLResult::GetRecord(int index)
{
    if (FCache && index != FCurrentRecord && index >= 0 && index < RecordCount()) {
        std::memcpy(FDataBlock.data(), FCache->Items(static_cast<std::size_t>(index)), FDataSize);
        FCurrentRecord = index;
    }
    FPastLastRow = false;
}

void TSQLResult::Next()
{
    if (FCurrentRecord >= RecordCount() - 1)
        FPastLastRow = true;
    else
        GetRecord(FCurrentRecord + 1);
}

void TSQLResult::Prior()
{
    if (FCurrentRecord > 0)
        GetRecord(FCurrentRecord - 1);
}

bool TSQLResult::Eof() const
{
    if (!FEndOfCursor)
        return false;
    return !(FCachedFetch && RecordCount() > 0 && !FPastLastRow);
}

std::string TSQLResult::GetAsString(int index)
{
    CheckIndex(index);
    if ((FDescriptor.SqlType(index) & ~1) != SqlBlob)
        return TSQLDA::GetAsString(index);
    const std::span<const char> bytes = BlobData(index);
    return std::string(bytes.begin(), bytes.end());
}

std::u16string TSQLResult::GetAsWideString(int index)
{
    CheckIndex(index);
    if ((FDescriptor.SqlType(index) & ~1) != SqlBlob)
        return TSQLDA::GetAsWideString(index);
    const std::span<const char> bytes = BlobData(index);
    std::u16string text(bytes.size() / 2, u'\0'); // the bytes as UTF-16 code units
    std::memcpy(text.data(), bytes.data(), text.size() * 2);
    return text;
}

TFbVariant TSQLResult::GetAsVariant(int index)
{
    CheckIndex(index);
    if ((FDescriptor.SqlType(index) & ~1) != SqlBlob)
        return TSQLDA::GetAsVariant(index);
    if (IsNull(index) && FFetchBlobs)
        return std::monostate();
    const std::span<const char> bytes = BlobData(index);
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

// ---- TSQLParams ----

TSQLParams::TSQLParams() : TSQLDA(0) {}
TSQLParams::~TSQLParams() = default;

void TSQLParams::Clear()
{
    Resize(0);
    FInfo.clear();
    FStores.clear();
    FIdCount = 0;
}

int TSQLParams::AddParameter(const std::string& name)
{
    if (name.size() >= 126)
        throw Exception(Fmt(SSizeNameTooBig, name));
    const int index = FieldCount();
    if (!name.empty()) {
        for (int i = 0; i < index; ++i) {
            if (!SameTextAscii(FInfo[static_cast<std::size_t>(i)].Name, name))
                continue;
            Resize(index + 1);
            FInfo.push_back(FInfo[static_cast<std::size_t>(i)]);
            FDescriptor.SetSqlType(index, FDescriptor.SqlType(i));
            FDescriptor.SetSqlScale(index, FDescriptor.SqlScale(i));
            FDescriptor.SetSqlSubType(index, FDescriptor.SqlSubType(i));
            FDescriptor.SetSqlLen(index, FDescriptor.SqlLen(i));
            FDescriptor.SetSqlData(index, FDescriptor.SqlData(i));
            FDescriptor.SetSqlInd(index, FDescriptor.SqlInd(i));
            return index;
        }
    }
    Resize(index + 1);
    FInfo.push_back({ true, FIdCount++, name });
    FStores.push_back(std::make_unique<TParamStore>());
    FDescriptor.SetSqlType(index, SqlText | 1);
    FDescriptor.SetSqlInd(index, &FStores.back()->Indicator);
    return index;
}

int TSQLParams::GetFieldIndex(const std::string& name)
{
    for (int i = 0; i < FieldCount(); ++i)
        if (SameTextAscii(FInfo[static_cast<std::size_t>(i)].Name, name))
            return i;
    throw Exception(Fmt(SParameterNotFound, name));
}

TFieldKind TSQLParams::FieldType(int index)
{
    CheckIndex(index);
    if (FInfo[static_cast<std::size_t>(index)].Untyped && IsNull(index))
        return fkUnknown;
    return TSQLDA::FieldType(index);
}

std::string TSQLParams::ParamName(int index) const
{
    CheckIndex(index);
    return FInfo[static_cast<std::size_t>(index)].Name;
}

int TSQLParams::ParamId(int index) const
{
    CheckIndex(index);
    return FInfo[static_cast<std::size_t>(index)].Id;
}

void TSQLParams::SetFieldType(int index, int size, int scale, short sqlType)
{
    CheckIndex(index);
    if (!FInfo[static_cast<std::size_t>(index)].Untyped)
        return;
    const int id = FInfo[static_cast<std::size_t>(index)].Id;
    TParamStore& store = *FStores[static_cast<std::size_t>(id)];
    store.Data.assign(static_cast<std::size_t>(std::max(size, 0)), 0);
    for (int i = 0; i < FieldCount(); ++i) {
        if (FInfo[static_cast<std::size_t>(i)].Id != id)
            continue;
        FInfo[static_cast<std::size_t>(i)].Untyped = false;
        FDescriptor.SetSqlType(i, sqlType);
        FDescriptor.SetSqlScale(i, static_cast<short>(scale));
        FDescriptor.SetSqlLen(i, static_cast<short>(std::clamp(size, 0, 32767)));
        FDescriptor.SetSqlData(i, size < 1 ? nullptr : store.Data.data());
        FDescriptor.SetSqlInd(i, &store.Indicator);
    }
}

char* TSQLParams::TextBuffer(int index, std::size_t size, short sqlLen)
{
    const int id = FInfo[static_cast<std::size_t>(index)].Id;
    TParamStore& store = *FStores[static_cast<std::size_t>(id)];
    store.Data.assign(std::max<std::size_t>(size, 1), 0);
    for (int i = 0; i < FieldCount(); ++i) {
        if (FInfo[static_cast<std::size_t>(i)].Id != id)
            continue;
        FDescriptor.SetSqlData(i, store.Data.data());
        FDescriptor.SetSqlLen(i, sqlLen);
    }
    return store.Data.data();
}

void TSQLParams::SetAsDouble(int index, double value) { SetFieldType(index, 8, 0, SqlDouble | 1); TSQLDA::SetAsDouble(index, value); }
void TSQLParams::SetAsCurrency(int index, double value) { SetFieldType(index, 8, -4, SqlInt64 | 1); TSQLDA::SetAsCurrency(index, value); }
void TSQLParams::SetAsInt64(int index, std::int64_t value) { SetFieldType(index, 8, 0, SqlInt64 | 1); TSQLDA::SetAsInt64(index, value); }
void TSQLParams::SetAsInteger(int index, std::int32_t value) { SetFieldType(index, 4, 0, SqlLong | 1); TSQLDA::SetAsInteger(index, value); }
void TSQLParams::SetAsSingle(int index, float value) { SetFieldType(index, 4, 0, SqlFloat | 1); TSQLDA::SetAsSingle(index, value); }
void TSQLParams::SetAsSmallint(int index, std::int16_t value) { SetFieldType(index, 2, 0, SqlShort | 1); TSQLDA::SetAsSmallint(index, value); }
void TSQLParams::SetAsBoolean(int index, bool value) { SetFieldType(index, 2, 0, SqlShort | 1); TSQLDA::SetAsBoolean(index, value); }
void TSQLParams::SetAsString(int index, const std::string& value)
{
    SetFieldType(index, static_cast<int>(std::min<std::size_t>(value.size(), 32767)), 0, SqlText | 1);
    TSQLDA::SetAsString(index, value);
}
void TSQLParams::SetAsWideString(int index, const std::u16string& value)
{
    SetFieldType(index, static_cast<int>(std::min<std::size_t>(value.size(), 32767)), 0, SqlText | 1);
    TSQLDA::SetAsWideString(index, value);
}
void TSQLParams::SetAsQuad(int index, const TIscQuad& value) { SetFieldType(index, 8, 0, SqlQuad | 1); TSQLDA::SetAsQuad(index, value); }
void TSQLParams::SetAsDateTime(int index, TDateTime value) { SetFieldType(index, 8, 0, SqlTimestamp | 1); TSQLDA::SetAsDateTime(index, value); }
void TSQLParams::SetAsDate(int index, TDateTime value) { SetFieldType(index, 4, 0, SqlTypeDate | 1); TSQLDA::SetAsDate(index, value); }
void TSQLParams::SetAsTime(int index, TDateTime value) { SetFieldType(index, 4, 0, SqlTypeTime | 1); TSQLDA::SetAsTime(index, value); }
void TSQLParams::SetAsGUID(int index, const std::array<std::uint8_t, 16>& value) { SetFieldType(index, 16, 0, SqlText | 1); TSQLDA::SetAsGUID(index, value); }

namespace {
bool IsIdentChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
}

bool StartsBlock(const std::string& sql, std::size_t pos)
{
    const auto matches = [&](const char* word, std::size_t length) {
        if (sql.size() - pos < length || !SameTextAscii(sql.substr(pos, length), word))
            return false;
        return pos + length == sql.size() || !IsIdentChar(sql[pos + length]);
    };
    return matches("begin", 5) || matches("declare", 7);
}
} // namespace

std::string TSQLParams::Parse(const std::string& sql)
{
    Clear();
    std::string output;
    output.reserve(sql.size());
    std::size_t pos = 0;
    while (pos < sql.size()) {
        const char c = sql[pos];
        if ((output.empty() || pos == 0 || !IsIdentChar(sql[pos - 1])) && StartsBlock(sql, pos)) {
            output += sql.substr(pos); // a procedure body is sent as written
            break;
        }
        if (c == '"' || c == '\'' || c == '[') {
            const char closing = c == '[' ? ']' : c;
            const std::size_t end = sql.find(closing, pos + 1);
            const std::size_t stop = end == std::string::npos ? sql.size() : end + 1;
            output.append(sql, pos, stop - pos);
            pos = stop;
        } else if (c == '-' && pos + 1 < sql.size() && sql[pos + 1] == '-') {
            pos = sql.find_first_of("\r\n", pos);
            if (pos == std::string::npos)
                pos = sql.size();
        } else if (c == '/' && pos + 1 < sql.size() && sql[pos + 1] == '*') {
            const std::size_t end = sql.find("*/", pos + 2);
            pos = end == std::string::npos ? sql.size() : end + 2;
        } else if (c == ':') {
            std::string name;
            ++pos;
            if (pos < sql.size() && sql[pos] == '"') {
                const std::size_t end = sql.find('"', pos + 1);
                const std::size_t stop = end == std::string::npos ? sql.size() : end;
                name = sql.substr(pos + 1, stop - pos - 1);
                pos = std::min(stop + 1, sql.size());
            } else {
                const std::size_t start = pos;
                while (pos < sql.size() && IsIdentChar(sql[pos]))
                    ++pos;
                name = sql.substr(start, pos - start);
            }
            output += '?';
            AddParameter(name);
        } else {
            if (c == '?')
                AddParameter("");
            output += c;
            ++pos;
        }
    }
    return output;
}
