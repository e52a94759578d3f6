#include "db/fbclientlib.h"

#include "tests/db/fb_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <typeinfo>

using namespace fbtest;
using testing::EndsWith;
using testing::HasSubstr;
using testing::MatchesRegex;
using testing::Not;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {
// Status vector words (the client library's published argument codes).
constexpr TIscStatus ArgEnd = 0, ArgGds = 1, ArgNumber = 4;
constexpr TIscStatus ArithExcept = 335544321, BadDebugFormat = 335544875, UserException = 335544517,
                     IoError = 335544344, NetworkError = 335544721, ConnectionLost = 335544741;
constexpr const char* ArithText = "arithmetic exception, numeric overflow, or string truncation";

std::string Bytes(std::initializer_list<int> values, const std::string& tail = "")
{
    std::string bytes;
    for (const int value : values)
        bytes += static_cast<char>(value);
    return bytes + tail;
}

// Fills the library's status vector and runs the check step on its status code.
void Check(TFbLibrary& library, std::initializer_list<TIscStatus> vector)
{
    std::fill_n(library.StatusVector(), StatusVectorLength, 0);
    std::copy(vector.begin(), vector.end(), library.StatusVector());
    library.CheckFbApiCall(library.StatusVector()[1]);
}
} // namespace

TEST(TFbBaseLibrary, ResolvesAllEntryPointsByDistinctNames)
{
    const auto& names = TFbBaseLibrary::EntryPointNames();
    EXPECT_EQ(names.size(), 139u);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 139u);
    EXPECT_STREQ(names.front(), "BLOB_close");
    EXPECT_STREQ(names.back(), "isc_vtov");
}

TEST(TFbBaseLibrary, MissingLibraryFailsWithItsName)
{
    TFbBaseLibrary library;
    EXPECT_THAT([&] { library.Load("libnot-a-client.so.7"); },
        ThrowsMessage<Exception>(StrEq("Can't load library: libnot-a-client.so.7.")));
    EXPECT_FALSE(library.IsLoaded());
}

TEST(TFbBaseLibrary, LibraryLackingAnEntryPointIsRefusedAndUnloaded)
{
    TFbBaseLibrary library;
    try {
        library.Load(IBI_FBSTUB_PARTIAL);
        FAIL() << "loaded a library without isc_sqlcode";
    } catch (const EFbError&) {
        FAIL() << "a database error class was raised";
    } catch (const Exception& error) {
        EXPECT_STREQ(error.what(), "Incorrect Database Server version, check compiler options.");
    }
    EXPECT_FALSE(library.IsLoaded());
}

TEST(TFbBaseLibrary, LoadsACompleteLibraryOnceAndUnloads)
{
    TFbBaseLibrary library;
    EXPECT_TRUE(library.Unload()); // nothing loaded
    EXPECT_TRUE(library.Load(IBI_FBSTUB_FULL));
    EXPECT_TRUE(library.IsLoaded());
    EXPECT_TRUE(library.Load("libnot-a-client.so.7")); // already loaded: the name is not looked at
    EXPECT_TRUE(library.Unload());
    EXPECT_FALSE(library.IsLoaded());
}

TEST(TFbLibrary, SegmentSizeZeroFailsTheAssertion)
{
    TFbLibrary library;
    EXPECT_EQ(library.SegmentSize(), 16384);
    EXPECT_THAT([&] { library.SetSegmentSize(0); },
        ThrowsMessage<EAssertionFailed>(MatchesRegex(R"(Assertion failure \(fbclientlib\.cpp, line [0-9]+\))")));
    EXPECT_EQ(library.SegmentSize(), 16384);
}

// ---- the check step against the real library's message texts ----

class TFbLibraryCheck : public testing::Test {
protected:
    void SetUp() override
    {
        IBI_REQUIRE_FBCLIENT();
        FLibrary.Load(FbClientLibrary);
    }
    TFbLibrary FLibrary;
};

TEST_F(TFbLibraryCheck, MessageHasTheLibraryLinesTheSqlTextAndTheCode)
{
    try {
        Check(FLibrary, { ArgGds, ArithExcept, ArgGds, ArithExcept, ArgGds, ArithExcept, ArgEnd });
        FAIL();
    } catch (const EFbError& error) {
        EXPECT_EQ(typeid(error), typeid(EFbError));
        EXPECT_EQ(std::string(error.what()),
            std::string(ArithText) + "\n" + ArithText + "\n" + ArithText + "\n"
                + "Arithmetic overflow or division by zero has occurred.\nError Code: 1");
        EXPECT_EQ(error.SQLCode(), -802);
        EXPECT_EQ(error.ErrorCode(), 1);
    }
}

TEST_F(TFbLibraryCheck, SqlCodeZeroAddsNoSqlLine)
{
    EXPECT_THAT([&] { Check(FLibrary, { ArgGds, BadDebugFormat, ArgEnd }); },
        ThrowsMessage<EFbError>(StrEq("Bad debug info format\nError Code: 555")));
}

TEST_F(TFbLibraryCheck, UserExceptionCarriesItsNumber)
{
    try {
        Check(FLibrary, { ArgGds, UserException, ArgNumber, 7, ArgEnd });
        FAIL();
    } catch (const EFbException& error) {
        EXPECT_EQ(error.Number(), 7);
        EXPECT_EQ(error.SQLCode(), -836);
        EXPECT_EQ(std::string(error.what()),
            "exception 7\n" + FLibrary.SQLInterprete(-836) + "\nError Code: 197");
    }
}

TEST_F(TFbLibraryCheck, ExceptionClassCallbackChoosesTheClass)
{
    FLibrary.OnGetDBExceptionClass = [](int number, TFbErrorClass& errorClass) {
        if (number == 7)
            errorClass = MakeFbError<EFbGStatError>;
    };
    EXPECT_THROW(Check(FLibrary, { ArgGds, UserException, ArgNumber, 7, ArgEnd }), EFbGStatError);
    EXPECT_THROW(Check(FLibrary, { ArgGds, UserException, ArgNumber, 8, ArgEnd }), EFbException);
}

TEST_F(TFbLibraryCheck, WarningsAndSuppressedErrorsPass)
{
    EXPECT_NO_THROW(Check(FLibrary, { ArgGds, 0, ArgEnd }));
    EXPECT_NO_THROW(Check(FLibrary, { ArgGds, 0x40000000 | ArithExcept, ArgEnd })); // severity bits set
    FLibrary.SetRaiseErrors(false);
    EXPECT_NO_THROW(Check(FLibrary, { ArgGds, ArithExcept, ArgEnd }));
}

TEST_F(TFbLibraryCheck, LostConnectionIsReportedBeforeTheErrorWithTheCallsOwnMessage)
{
    for (const TIscStatus code : { NetworkError, ConnectionLost }) {
        int calls = 0;
        FLibrary.OnConnectionLost = [&](TFbLibrary& library) {
            ++calls;
            // What a detach during the callback does: the vector is reused.
            std::fill_n(library.StatusVector(), StatusVectorLength, 0);
            library.StatusVector()[0] = ArgGds;
            library.StatusVector()[1] = ArithExcept;
        };
        try {
            Check(FLibrary, { ArgGds, code, ArgEnd });
            FAIL();
        } catch (const EFbError& error) {
            EXPECT_EQ(error.ErrorCode(), static_cast<int>(code & 0xFFFF));
            EXPECT_THAT(error.what(), Not(HasSubstr(ArithText)));
            EXPECT_THAT(error.what(), EndsWith("Error Code: " + std::to_string(code & 0xFFFF)));
        }
        EXPECT_EQ(calls, 1);
    }
}

struct TFacilityCase {
    TIscStatus Code;
    const std::type_info& Class;
};

class TFbLibraryFacility : public TFbLibraryCheck, public testing::WithParamInterface<TFacilityCase> {};

TEST_P(TFbLibraryFacility, ChoosesTheErrorClass)
{
    try {
        Check(FLibrary, { ArgGds, GetParam().Code, ArgEnd });
        FAIL();
    } catch (const EFbError& error) {
        EXPECT_EQ(typeid(error), GetParam().Class);
        EXPECT_EQ(error.ErrorCode(), static_cast<int>(GetParam().Code & 0xFFFF));
        EXPECT_THAT(error.what(), EndsWith("Error Code: " + std::to_string(GetParam().Code & 0xFFFF)));
    }
}

INSTANTIATE_TEST_SUITE_P(Facilities, TFbLibraryFacility, testing::Values(
    TFacilityCase { 0x14000000 | 24, typeid(EFbError) },         // facility 0: I/O error
    TFacilityCase { 0x14030000 | 1, typeid(EFbGFixError) },      // 3
    TFacilityCase { 0x14070000 | 2, typeid(EFbDSQLError) },      // 7
    TFacilityCase { 0x14080000 | 1, typeid(EFbDynError) },       // 8
    TFacilityCase { 0x140C0000 | 1, typeid(EFbGBakError) },      // 12
    TFacilityCase { 0x14120000 | 1, typeid(EFbGSecError) },      // 18
    TFacilityCase { 0x14130000 | 1, typeid(EFbLicenseError) },   // 19
    TFacilityCase { 0x14150000 | 1, typeid(EFbGStatError) },     // 21
    TFacilityCase { 0x14170000 | 1, typeid(EFbError) }),          // any other
    [](const auto& testInfo) { return "Facility" + std::to_string(testInfo.param.Code >> 16 & 0xFF); });

TEST_F(TFbLibraryCheck, AttachingAMissingFileFailsWithTheLibraryMessage)
{
    TTempFolder folder;
    const std::string path = folder / "missing.fdb";
    TFbHandle db = 0;
    try {
        FLibrary.AttachDatabase(path, db, "sql_dialect=3\r\nlc_ctype=UNICODE_FSS\r\n", '\r');
        FAIL();
    } catch (const EFbError& error) {
        EXPECT_EQ(error.ErrorCode(), static_cast<int>(IoError & 0xFFFF));
        EXPECT_EQ(error.SQLCode(), -902);
        EXPECT_THAT(error.what(), HasSubstr(path));
        EXPECT_THAT(error.what(), HasSubstr("\n"));
        EXPECT_THAT(error.what(), Not(HasSubstr("\r")));
        EXPECT_THAT(error.what(), EndsWith("\nError Code: 24"));
    }
    EXPECT_EQ(db, 0u);
}

// ---- parameter blocks ----

struct TBlockCase {
    const char* Name;
    std::string Text;
    std::string Bytes;
};

class TBuildDPB : public testing::TestWithParam<TBlockCase> {};

TEST_P(TBuildDPB, WritesTheKeywordsByKind)
{
    EXPECT_EQ(BuildDPB(GetParam().Text, '\r'), GetParam().Bytes);
}

INSTANTIATE_TEST_SUITE_P(Lines, TBuildDPB, testing::Values(
    TBlockCase { "ImportTool", "sql_dialect=3\r\nlc_ctype=UNICODE_FSS\r\n", Bytes({ 1, 63, 1, 3, 48, 11 }, "UNICODE_FSS") },
    TBlockCase { "Empty", "", Bytes({ 1 }) },
    TBlockCase { "ZeroIntegerSkipped", "shutdown=0", Bytes({ 1 }) },
    TBlockCase { "EmptyStringSkipped", "user_name=", Bytes({ 1 }) },
    TBlockCase { "UnknownSkipped", "colour=blue\r\nsweep=x", Bytes({ 1 }) },
    TBlockCase { "NeverWritten", "cdd_pathname=a\r\nnumber_of_users=5", Bytes({ 1 }) },
    TBlockCase { "Flag", "damaged\r\ngstat_attach=1", Bytes({ 1, 17, 67 }) },
    TBlockCase { "TwoByteInteger", "page_size=4096", Bytes({ 1, 4, 2, 0x00, 0x10 }) },
    TBlockCase { "ByteBoundary", "num_buffers=255\r\nsweep_interval=256", Bytes({ 1, 5, 1, 255, 22, 2, 0, 1 }) },
    TBlockCase { "FourByteInteger", "num_buffers=70000", Bytes({ 1, 5, 4, 0x70, 0x11, 0x01, 0x00 }) },
    TBlockCase { "NamesLowerCasedAndTrimmed", " User_Name = SYSDBA \r\n", Bytes({ 1, 28, 6 }, "SYSDBA") },
    TBlockCase { "LongStringCut", "password=" + std::string(300, 'p'), Bytes({ 1, 29, 255 }, std::string(255, 'p')) }),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST(BuildBPB, WritesKnownItemsWithTheirLength)
{
    EXPECT_EQ(BuildBPB(""), "");
    EXPECT_EQ(BuildBPB("source_type=1; Target_Type = -1;bogus=3;type=999;filter_parameter=5;interp"),
        Bytes({ 1, 1, 1, 1, 2, 1, 0xFF }));
}

// ---- dates ----

TEST(DateHelpers, ConvertBetweenDayNumbersAndDateTimes)
{
    EXPECT_EQ(TimestampToDateTime({ DateOffset, 0 }), 0.0);
    EXPECT_EQ(TimestampToDateTime({ DateOffset + 1, 432000000 }), 1.5);
    const TIscTimestamp stamp = DateTimeToTimestamp(45000.25);
    EXPECT_EQ(stamp.Date, 45000 + DateOffset);
    EXPECT_EQ(stamp.Time, 216000000u);
    // Just below midnight rounds up into the next day, never to a time of 24:00.
    const TIscTimestamp late = DateTimeToTimestamp(10.0 - 1e-12);
    EXPECT_EQ(late.Date, 10 + DateOffset);
    EXPECT_EQ(late.Time, 0u);
}
