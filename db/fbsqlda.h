#pragma once
#include "db/fbclientlib.h"
#include "db/fbpoolstream.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

// Days since 30 December 1899, with the time of day as fraction.
using TDateTime = double;

// A column or parameter value of any kind; std::monostate is SQL null.
using TFbVariant = std::variant<std::monostate, std::int32_t, std::int64_t, double, std::string,
    std::vector<std::uint8_t>>;

enum class TFieldKind : std::uint8_t {
    fkUnknown = 0, fkNumeric = 1, fkChar = 2, fkVarchar = 3, fkSmallint = 5, fkInteger = 6,
    fkQuad = 7, fkFloat = 8, fkDoublePrecision = 9, fkTimestamp = 10, fkBlob = 11, fkDate = 13,
    fkTime = 14, fkBigint = 15, fkArray = 16
};
using enum TFieldKind;

// SQL type codes of the descriptor entries (the low bit marks a nullable entry).
enum TSqlTypeCode : short {
    SqlVarying = 448, SqlText = 452, SqlDouble = 480, SqlFloat = 482, SqlLong = 496,
    SqlShort = 500, SqlTimestamp = 510, SqlBlob = 520, SqlDFloat = 530, SqlArray = 540,
    SqlQuad = 550, SqlTypeTime = 560, SqlTypeDate = 570, SqlInt64 = 580
};

// One descriptor area with typed, converting access to its entries.
class TSQLDA {
public:
    explicit TSQLDA(int count = 0);
    virtual ~TSQLDA();
    TSQLDA(const TSQLDA&) = delete;
    TSQLDA& operator=(const TSQLDA&) = delete;

    int FieldCount() const noexcept { return FDescriptor.Count(); }
    TSqlDescriptor& Descriptor() noexcept { return FDescriptor; }
    virtual void Resize(int count);

    bool IsNull(int index) const;
    void SetIsNull(int index, bool value);
    virtual TFieldKind FieldType(int index);
    virtual std::string GetAsString(int index);
    virtual std::u16string GetAsWideString(int index);
    virtual TFbVariant GetAsVariant(int index);
    virtual void SetAsDouble(int index, double value);
    virtual void SetAsCurrency(int index, double value);
    virtual void SetAsInt64(int index, std::int64_t value);
    virtual void SetAsInteger(int index, std::int32_t value);
    virtual void SetAsSingle(int index, float value);
    virtual void SetAsSmallint(int index, std::int16_t value);
    virtual void SetAsString(int index, const std::string& value);
    virtual void SetAsWideString(int index, const std::u16string& value);
    virtual void SetAsQuad(int index, const TIscQuad& value);
    virtual void SetAsDateTime(int index, TDateTime value);
    virtual void SetAsBoolean(int index, bool value);
    virtual void SetAsDate(int index, TDateTime value);
    virtual void SetAsTime(int index, TDateTime value);
    virtual void SetAsGUID(int index, const std::array<std::uint8_t, 16>& value);
    virtual int GetFieldIndex(const std::string& name);

    std::int32_t AsInteger(int index);
    std::int64_t AsInt64(int index);
    double AsDouble(int index);
    TDateTime AsDateTime(int index);
    TIscQuad AsQuad(int index);
    std::string AsString(int index) { return GetAsString(index); }
    // The same, by column or parameter name.
    std::int32_t AsInteger(const std::string& name) { return AsInteger(GetFieldIndex(name)); }
    std::string AsString(const std::string& name) { return GetAsString(GetFieldIndex(name)); }

    std::string SqlName(int index) const;
    std::string RelName(int index) const;
    std::string AliasName(int index) const;

protected:
    void CheckIndex(int index) const;
    // Gives the entry a buffer of exactly size bytes, sets its sqldata and sqllen.
    virtual char* TextBuffer(int index, std::size_t size, short sqlLen);
    void StoreText(int index, const std::string& text);

    TSqlDescriptor FDescriptor;

private:
    std::vector<std::vector<char>> FOwnBuffers;
};

// The result area of a statement: one data block for all columns, blobs read on fetch and an
// optional cache of fetched rows.
class TSQLResult : public TSQLDA {
public:
    TSQLResult(int count, unsigned bufferChunks = 1000, bool fetchBlobs = false, bool cachedFetch = true);
    ~TSQLResult() override;

    bool CachedFetch() const noexcept { return FCachedFetch; }
    bool FetchBlobs() const noexcept { return FFetchBlobs; }
    void Resize(int count) override;

    void ClearRecords();
    int RecordCount() const;
    int CurrentRecord() const;
    void GetRecord(int index);
    void Next();
    void Prior();
    bool Eof() const;

    std::string GetAsString(int index) override;
    std::u16string GetAsWideString(int index) override;
    TFbVariant GetAsVariant(int index) override;
    // The bytes of a blob column read at fetch time.
    std::span<const char> BlobData(int index);
    // The elements of an array column read at fetch time.
    std::span<const char> ArrayData(int index);

    // Used by the client library binding while describing and fetching.
    struct TArrayColumn {
        int Index;
        std::size_t DataSize;
        std::vector<unsigned char> Descriptor;
    };
    std::vector<int>& BlobColumns() noexcept { return FBlobColumns; }
    std::vector<TArrayColumn>& ArrayColumns() noexcept { return FArrayColumns; }
    // Lays out the data block after describe; array columns must be listed first.
    void AllocateDataBuffer();
    void SetEndOfCursor() noexcept { FEndOfCursor = true; FPastLastRow = true; }
    void ClearEndOfCursor() noexcept { FEndOfCursor = false; }
    bool EndOfCursor() const noexcept { return FEndOfCursor; }
    void SetBlob(int index, std::vector<char> bytes);
    void AppendToCache();

private:
    bool FCachedFetch, FFetchBlobs;
    unsigned FBufferChunks;
    std::vector<std::max_align_t> FDataBlock;
    std::size_t FDataSize = 0;
    std::vector<int> FBlobColumns;
    std::vector<TArrayColumn> FArrayColumns;
    std::unique_ptr<TPoolStream> FCache;
    int FCurrentRecord = -1;
    bool FEndOfCursor = false, FPastLastRow = false;
    // Blob bytes live here; the data block holds a slot number after each blob id.
    std::vector<std::vector<char>> FBlobStore;

    std::uint32_t& BlobSlot(int index);
};

// The parameter area of a statement: parameters by name, parsed out of SQL text; all
// occurrences of one name share one buffer and one indicator.
class TSQLParams : public TSQLDA {
public:
    TSQLParams();
    ~TSQLParams() override;

    // Clears the parameters, adds those of the text and returns it with each replaced by "?".
    std::string Parse(const std::string& sql);
    int AddParameter(const std::string& name);
    void Clear();
    int GetFieldIndex(const std::string& name) override;
    TFieldKind FieldType(int index) override;
    std::string ParamName(int index) const;
    int ParamId(int index) const;
    int ParamIdCount() const noexcept { return FIdCount; }

    void SetAsDouble(int index, double value) override;
    void SetAsCurrency(int index, double value) override;
    void SetAsInt64(int index, std::int64_t value) override;
    void SetAsInteger(int index, std::int32_t value) override;
    void SetAsSingle(int index, float value) override;
    void SetAsSmallint(int index, std::int16_t value) override;
    void SetAsString(int index, const std::string& value) override;
    void SetAsWideString(int index, const std::u16string& value) override;
    void SetAsQuad(int index, const TIscQuad& value) override;
    void SetAsDateTime(int index, TDateTime value) override;
    void SetAsBoolean(int index, bool value) override;
    void SetAsDate(int index, TDateTime value) override;
    void SetAsTime(int index, TDateTime value) override;
    void SetAsGUID(int index, const std::array<std::uint8_t, 16>& value) override;
    // Setting by name sets every occurrence of the name.
    void SetAsInteger(const std::string& name, std::int32_t value) { SetAsInteger(GetFieldIndex(name), value); }
    void SetAsString(const std::string& name, const std::string& value) { SetAsString(GetFieldIndex(name), value); }

    // Fixes the type of a still untyped parameter and gives it a buffer of size bytes.
    void SetFieldType(int index, int size, int scale, short sqlType);

protected:
    char* TextBuffer(int index, std::size_t size, short sqlLen) override;

private:
    struct TParamInfo {
        bool Untyped = true;
        int Id = 0;
        std::string Name;
    };
    struct TParamStore { // one per parameter id
        std::vector<char> Data;
        short Indicator = -1;
    };
    std::vector<TParamInfo> FInfo;
    std::vector<std::unique_ptr<TParamStore>> FStores;
    int FIdCount = 0;
};
