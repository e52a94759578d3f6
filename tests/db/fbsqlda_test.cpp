#include "db/fbsqlda.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

using testing::MatchesRegex;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {
// A one-column result area of the given SQL type, laid out as after describe.
struct TColumn {
    explicit TColumn(short sqlType, short sqlLen, short scale = 0) : Area(1)
    {
        Area.Descriptor().SetSqlType(0, sqlType);
        Area.Descriptor().SetSqlLen(0, sqlLen);
        Area.Descriptor().SetSqlScale(0, scale);
        Area.AllocateDataBuffer();
    }
    TSQLResult Area;
};
} // namespace

// ---- parameter parsing ----

struct TParseCase {
    const char* Name;
    const char* Sql;
    const char* Parsed;
    std::vector<std::string> Params;
    std::vector<int> Ids;
};

class TSQLParamsParse : public testing::TestWithParam<TParseCase> {};

TEST_P(TSQLParamsParse, ReplacesParametersAndSharesIdsByName)
{
    TSQLParams params;
    EXPECT_EQ(params.Parse(GetParam().Sql), GetParam().Parsed);
    std::vector<std::string> names;
    std::vector<int> ids;
    for (int i = 0; i < params.FieldCount(); ++i) {
        names.push_back(params.ParamName(i));
        ids.push_back(params.ParamId(i));
    }
    EXPECT_EQ(names, GetParam().Params);
    EXPECT_EQ(ids, GetParam().Ids);
}

INSTANTIATE_TEST_SUITE_P(Texts, TSQLParamsParse, testing::Values(
    TParseCase { "SharedName", "SELECT a FROM t WHERE b = :x AND c = :X", "SELECT a FROM t WHERE b = ? AND c = ?", { "x", "x" }, { 0, 0 } },
    TParseCase { "TwoNames", "UPDATE t SET a = :a WHERE b = :b_1$", "UPDATE t SET a = ? WHERE b = ?", { "a", "b_1$" }, { 0, 1 } },
    TParseCase { "Unnamed", "INSERT INTO t VALUES (?, ?)", "INSERT INTO t VALUES (?, ?)", { "", "" }, { 0, 1 } },
    TParseCase { "QuotedName", "SELECT 1 FROM t WHERE a = :\"My Param\"", "SELECT 1 FROM t WHERE a = ?", { "My Param" }, { 0 } },
    TParseCase { "ColonInLiteral", "SELECT ':p', \"a:b\", [c:d] FROM t WHERE a = :q", "SELECT ':p', \"a:b\", [c:d] FROM t WHERE a = ?", { "q" }, { 0 } },
    TParseCase { "DoubledQuote", "VALUES('O''Brien :x', :y)", "VALUES('O''Brien :x', ?)", { "y" }, { 0 } },
    TParseCase { "LineComment", "SELECT a -- :p\r\nFROM t", "SELECT a \r\nFROM t", {}, {} },
    TParseCase { "BlockComment", "SELECT /* :c ? */ a FROM t", "SELECT  a FROM t", {}, {} },
    TParseCase { "ExecuteBlock", "EXECUTE BLOCK AS declare v int; begin :v = 1; end", "EXECUTE BLOCK AS declare v int; begin :v = 1; end", {}, {} },
    TParseCase { "BeginAtStart", "begin :x; end", "begin :x; end", {}, {} },
    TParseCase { "BeginInsideAName", "SELECT x_begin FROM t WHERE y = :y", "SELECT x_begin FROM t WHERE y = ?", { "y" }, { 0 } },
    TParseCase { "Beginning", "SELECT beginning FROM t WHERE y = :y", "SELECT beginning FROM t WHERE y = ?", { "y" }, { 0 } },
    TParseCase { "UnclosedLiteral", "SELECT 'abc :x", "SELECT 'abc :x", {}, {} },
    TParseCase { "Utf8Text", "UPDATE options SET \"a\" = 'Fil\xC3\xA9''s/' WHERE \"oid\" = '1'", "UPDATE options SET \"a\" = 'Fil\xC3\xA9''s/' WHERE \"oid\" = '1'", {}, {} }),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST(TSQLParams, OccurrencesOfOneNameShareBufferAndIndicator)
{
    TSQLParams params;
    params.Parse("SELECT a FROM t WHERE b = :x AND c = :y AND d = :x");
    EXPECT_EQ(params.FieldType(0), fkUnknown);
    EXPECT_TRUE(params.IsNull(2));
    params.SetAsInteger("x", 42);
    EXPECT_EQ(params.FieldType(2), fkInteger);
    EXPECT_EQ(params.AsInteger(2), 42);
    EXPECT_FALSE(params.IsNull(2));
    EXPECT_TRUE(params.IsNull(1));
    EXPECT_EQ(params.Descriptor().SqlData(0), params.Descriptor().SqlData(2));
    params.SetIsNull(0, true);
    EXPECT_TRUE(params.IsNull(2));
}

TEST(TSQLParams, TextOfNewLengthReachesEveryOccurrence)
{
    TSQLParams params;
    params.Parse("SELECT :s, :s FROM t");
    params.SetAsString(0, "ab");
    params.SetAsString(1, "a much longer text");
    EXPECT_EQ(params.GetAsString(0), "a much longer text");
    EXPECT_EQ(params.Descriptor().SqlLen(0), 18);
    EXPECT_EQ(params.Descriptor().SqlData(0), params.Descriptor().SqlData(1));
}

TEST(TSQLParams, RefusesLongAndUnknownNames)
{
    TSQLParams params;
    EXPECT_NO_THROW(params.AddParameter(std::string(125, 'n')));
    EXPECT_THAT([&] { params.AddParameter(std::string(126, 'n')); },
        ThrowsMessage<Exception>(StrEq("Size name too big (" + std::string(126, 'n') + ")")));
    EXPECT_THAT([&] { params.GetFieldIndex("zz"); }, ThrowsMessage<Exception>(StrEq("Parameter \"zz\" not found.")));
}

TEST(TSQLDA, IndexOutOfRangeFails)
{
    TSQLParams params;
    params.Parse("SELECT :a FROM t");
    for (const int index : { -1, 1, 65536 })
        EXPECT_THAT([&] { params.AsInteger(index); },
            ThrowsMessage<Exception>(StrEq("Field num: " + std::to_string(index) + " not found.")));
    TSQLResult empty(0);
    EXPECT_THAT([&] { empty.GetFieldIndex("a"); }, ThrowsMessage<Exception>(StrEq("Field \"a\" not found.")));
}

// ---- conversions ----

TEST(TSQLDA, ScaledIntegersReadTruncatedAndAsExactText)
{
    struct TCase { short Type; short Len; short Scale; const char* Text; std::int32_t Integer; const char* Back; };
    const TCase cases[] = {
        { 497, 4, -2, "123.45", 123, "123.45" },
        { 497, 4, -2, "-123.45", -123, "-123.45" },
        { 497, 4, -2, "1.15", 1, "1.15" },     // rounded on the way in, not 1.14
        { 497, 4, -2, "0.5", 0, "0.5" },
        { 501, 2, -1, "-0.3", 0, "-0.3" },
        { 581, 8, -4, "12345678.9", 12345678, "12345678.9" },
        { 581, 8, -2, "2.00", 2, "2" },
    };
    for (const TCase& c : cases) {
        TColumn column(c.Type, c.Len, c.Scale);
        column.Area.SetAsString(0, c.Text);
        EXPECT_EQ(column.Area.AsInteger(0), c.Integer) << c.Text;
        EXPECT_EQ(column.Area.GetAsString(0), c.Back) << c.Text;
        EXPECT_EQ(column.Area.FieldType(0), fkNumeric);
    }
    TColumn exact(581, 8, -4);
    const std::int64_t big = 123456789012345678;
    std::memcpy(exact.Area.Descriptor().SqlData(0), &big, 8);
    exact.Area.SetIsNull(0, false);
    EXPECT_EQ(exact.Area.GetAsString(0), "12345678901234.5678"); // beyond a double's digits
}

TEST(TSQLDA, NullReadsAsZeroAndEmptyText)
{
    TColumn column(497, 4, -2);
    column.Area.SetAsInteger(0, 5);
    column.Area.SetIsNull(0, true);
    EXPECT_EQ(column.Area.AsInteger(0), 0);
    EXPECT_EQ(column.Area.GetAsString(0), "");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(column.Area.GetAsVariant(0)));
}

TEST(TSQLDA, ImpossibleConversionsFail)
{
    TColumn blob(521, 8);
    EXPECT_THAT([&] { blob.Area.SetAsInteger(0, 1); }, ThrowsMessage<EFbConvertError>(StrEq("Cast error.")));
    TColumn scaledFloat(483, 4, -2);
    EXPECT_THAT([&] { scaledFloat.Area.SetAsInteger(0, 1); }, ThrowsMessage<EFbConvertError>(StrEq("Unexpected error.")));
    TColumn text(449, 10);
    text.Area.SetAsString(0, "12x");
    EXPECT_THROW(text.Area.AsInteger(0), EConvertError);
    TColumn integer(497, 4);
    EXPECT_THROW(integer.Area.SetAsString(0, "twelve"), EConvertError);
    EXPECT_THROW(integer.Area.SetAsString(0, "1e400"), EConvertError);
}

TEST(TSQLDA, DatesCountDaysFrom1899)
{
    TColumn date(571, 4);
    date.Area.SetAsInteger(0, 45000);
    EXPECT_EQ(date.Area.GetAsString(0), "2023-03-15");
    EXPECT_EQ(date.Area.AsInteger(0), 45000);
    date.Area.SetAsString(0, "1858-11-17");
    std::int32_t day;
    std::memcpy(&day, date.Area.Descriptor().SqlData(0), 4);
    EXPECT_EQ(day, 0); // the library's own day zero
    TColumn stamp(511, 8);
    stamp.Area.SetAsDateTime(0, 45000.5);
    EXPECT_EQ(stamp.Area.GetAsString(0), "2023-03-15 12:00:00");
    stamp.Area.SetAsString(0, "2000-02-29 23:59:59");
    EXPECT_EQ(stamp.Area.GetAsString(0), "2000-02-29 23:59:59");
    EXPECT_THROW(stamp.Area.SetAsString(0, "2001-02-29"), EConvertError);
    EXPECT_THROW(stamp.Area.SetAsInt64(0, INT64_MAX), EFbConvertError);
    EXPECT_THROW(stamp.Area.SetAsDateTime(0, 1e300), EFbConvertError);
    TColumn time(561, 4);
    time.Area.SetAsString(0, "13:45:30");
    EXPECT_EQ(time.Area.GetAsString(0), "13:45:30");
    EXPECT_EQ(time.Area.AsInteger(0), 0);
}

TEST(TSQLDA, FieldKindsFollowTypeAndScale)
{
    const std::pair<short, TFieldKind> kinds[] = { { 452, fkChar }, { 448, fkVarchar }, { 500, fkSmallint },
        { 496, fkInteger }, { 550, fkQuad }, { 482, fkFloat }, { 530, fkFloat }, { 480, fkDoublePrecision },
        { 510, fkTimestamp }, { 520, fkBlob }, { 570, fkDate }, { 560, fkTime }, { 580, fkBigint },
        { 540, fkArray }, { 600, fkUnknown } };
    for (const auto& [type, kind] : kinds) {
        TSQLResult area(1);
        area.Descriptor().SetSqlType(0, static_cast<short>(type | 1));
        EXPECT_EQ(area.FieldType(0), kind) << type;
        area.Descriptor().SetSqlScale(0, -2);
        EXPECT_EQ(area.FieldType(0), type == 480 ? fkDoublePrecision : fkNumeric) << type;
    }
}

TEST(TSQLDA, EmptyGuidOnANullableEntryIsNull)
{
    TSQLParams params;
    params.Parse("SELECT :g FROM t");
    params.SetAsGUID(0, {});
    EXPECT_TRUE(params.IsNull(0));
    std::array<std::uint8_t, 16> guid {};
    guid[3] = 7;
    params.SetAsGUID(0, guid);
    EXPECT_EQ(params.GetAsString(0), std::string(reinterpret_cast<const char*>(guid.data()), 16));
}

// ---- row cache ----

TEST(TPoolStream, GrowsByPagesOfItems)
{
    TPoolStream pool(1000, 12);
    EXPECT_EQ(pool.PageSize(), 12000u);
    for (int i = 0; i < 1000; ++i)
        std::memcpy(pool.Add(), &i, sizeof i);
    EXPECT_EQ(pool.PageCount(), 1u);
    void* item = pool.Add();
    EXPECT_EQ(pool.PageCount(), 2u);
    EXPECT_EQ(pool.ItemCount(), 1001u);
    EXPECT_EQ(item, pool.Items(1000));
    int value = 0;
    std::memcpy(&value, pool.Items(999), sizeof value);
    EXPECT_EQ(value, 999);
    EXPECT_THAT([&] { pool.Items(1001); }, ThrowsMessage<EAssertionFailed>(MatchesRegex("Assertion failure .*")));
    EXPECT_THROW(TPoolStream(0, 12), EAssertionFailed);
}

TEST(TPoolStream, ReadsAndWritesAcrossPages)
{
    TPoolStream pool(2, 3); // 6-byte pages
    const char text[] = "abcdefghijklmnopq";
    pool.SetPosition(4);
    EXPECT_EQ(pool.Write(text, 17), 17u);
    EXPECT_EQ(pool.Size(), 21);
    EXPECT_EQ(pool.PageCount(), 4u);
    char back[32] = {};
    pool.SetPosition(4);
    EXPECT_EQ(pool.Read(back, sizeof back), 17u);
    EXPECT_STREQ(back, text);
    pool.SetSize(5);
    EXPECT_EQ(pool.Position(), 5);
    EXPECT_EQ(pool.PageCount(), 1u);
    EXPECT_EQ(pool.Seek(-1, TSeekOrigin::soEnd), 4);
}

TEST(TSQLResult, CachedRowsComeBackInOrder)
{
    TColumn column(497, 4);
    TSQLResult& area = column.Area;
    for (int row = 0; row < 3; ++row) {
        area.SetAsInteger(0, row * 10);
        area.AppendToCache();
    }
    EXPECT_EQ(area.RecordCount(), 3);
    EXPECT_EQ(area.CurrentRecord(), 2);
    area.SetEndOfCursor();
    EXPECT_TRUE(area.Eof());
    area.GetRecord(0);
    EXPECT_FALSE(area.Eof());
    EXPECT_EQ(area.AsInteger(0), 0);
    area.Next();
    area.Next();
    EXPECT_EQ(area.AsInteger(0), 20);
    EXPECT_FALSE(area.Eof());
    area.Next();
    EXPECT_TRUE(area.Eof());
    area.ClearRecords();
    EXPECT_EQ(area.RecordCount(), 0);
    EXPECT_FALSE(area.Eof());
}

TEST(TSQLResult, BlobsNeedFetchBlobs)
{
    TSQLResult area(1, 1000, false, true);
    area.Descriptor().SetSqlType(0, 521);
    area.Descriptor().SetSqlLen(0, 8);
    area.AllocateDataBuffer();
    EXPECT_THAT([&] { area.GetAsString(0); },
        ThrowsMessage<Exception>(StrEq("FetchBlob property must be set to use this method.")));
}

// Random texts made of the characters the parser treats specially: nothing may read past the
// text, and replacing parameters and dropping comments never lengthens it.
TEST(TSQLParams, ParsesAnyTextWithinItsBounds)
{
    static constexpr char Alphabet[] = "ab_$9 :?'\"[]-/*\r\nBEGINdeclar";
    std::uint32_t seed = 12345;
    const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
    TSQLParams params;
    for (int round = 0; round < 20000; ++round) {
        std::string sql(next() % 40, ' ');
        for (char& c : sql)
            c = Alphabet[next() % (sizeof Alphabet - 1)];
        const std::string parsed = params.Parse(sql);
        EXPECT_LE(parsed.size(), sql.size()) << sql;
        for (int i = 0; i < params.FieldCount(); ++i)
            EXPECT_LT(params.ParamId(i), params.ParamIdCount());
        const std::string dpb = BuildDPB(sql, '\r');
        EXPECT_EQ(dpb.at(0), 1);
    }
}
