#include "app/entryname.h"
#include "tests/support/paramname.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct TIntCase {
    const char* Text;
    std::int32_t Value; // -7 stands for "the default"
};

class TTextToIntDef : public testing::TestWithParam<TIntCase> {};

TEST_P(TTextToIntDef, ReadsWholeTextOrGivesDefault)
{
    EXPECT_EQ(TextToIntDef(GetParam().Text, -7), GetParam().Value) << '"' << GetParam().Text << '"';
}

INSTANTIATE_TEST_SUITE_P(Forms, TTextToIntDef, testing::Values(
    TIntCase { "1234", 1234 }, TIntCase { "0", 0 }, TIntCase { "007", 7 },
    TIntCase { "  12", 12 }, TIntCase { "12 ", -7 }, TIntCase { " 1 2", -7 },
    TIntCase { "+5", 5 }, TIntCase { "-5", -5 }, TIntCase { "- 5", -7 }, TIntCase { " -5", -5 },
    TIntCase { "$1F", 31 }, TIntCase { "x1f", 31 }, TIntCase { "X10", 16 }, TIntCase { "0x10", 16 },
    TIntCase { "0XfF", 255 }, TIntCase { "-$10", -16 }, TIntCase { "$", -7 }, TIntCase { "0x", -7 },
    TIntCase { "1f", -7 }, TIntCase { "$1G", -7 }, TIntCase { "", -7 }, TIntCase { "   ", -7 },
    TIntCase { "+", -7 }, TIntCase { "\t1", -7 }, TIntCase { "12'3", -7 }, TIntCase { "1234_1", -7 },
    TIntCase { "2147483647", INT_MAX }, TIntCase { "2147483648", -7 }, TIntCase { "-2147483648", INT_MIN },
    TIntCase { "-2147483649", -7 }, TIntCase { "$7FFFFFFF", INT_MAX }, TIntCase { "$80000000", -7 },
    TIntCase { "99999999999999999999999", -7 }, TIntCase { "$FFFFFFFFFFFFFFFFFFFF", -7 }),
    [](const auto& testInfo) { return testsupport::ParamName(testInfo.param.Text); });

struct TNameCase {
    const char* Name;
    std::int32_t Number;
    std::int64_t SuffixType;
    int BothCoversType; // type value in a "Both Covers" pass
};

class TParseEntryName : public testing::TestWithParam<TNameCase> {};

TEST_P(TParseEntryName, GivesNumberSuffixAndCoverType)
{
    const TEntryName entry = ParseEntryName(GetParam().Name);
    EXPECT_EQ(entry.Number, GetParam().Number);
    EXPECT_EQ(entry.SuffixType, GetParam().SuffixType);
    if (entry.Number >= 0) {
        EXPECT_EQ(PictureTypeValue(4, entry.SuffixType), GetParam().BothCoversType);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, TParseEntryName, testing::Values(
    TNameCase { "1234.jpg", 1234, -1, 2 }, TNameCase { "1234_1.jpg", 1234, 2, 2 },
    TNameCase { "1234_2.PNG", 1234, 3, 3 }, TNameCase { "1234_0.jpg", 1234, 1, 1 },
    TNameCase { "1234_7.jpg", 1234, 8, 2 }, TNameCase { "1234_front.jpg", 1234, 2, 2 },
    TNameCase { "12_3_4.gif", 12, 2, 2 }, TNameCase { "abc_1.jpg", -1, 2, 0 },
    TNameCase { "_1.jpg", -1, 2, 0 }, TNameCase { "1234.txt", 1234, -1, 2 },
    TNameCase { ".", -1, -1, 0 }, TNameCase { "..", -1, -1, 0 },
    TNameCase { "123_it's.jpg", 123, 2, 2 }, TNameCase { "12'3.jpg", -1, -1, 0 },
    TNameCase { "  77.jpg", 77, -1, 2 }, TNameCase { "77 .jpg", -1, -1, 0 },
    TNameCase { "$4D2.jpg", 1234, -1, 2 }, TNameCase { "0x10_2.png", 16, 3, 3 },
    TNameCase { "1234_-1.jpg", 1234, 0, 0 }, TNameCase { "55.jpg", 55, -1, 2 },
    TNameCase { "1234", 1234, -1, 2 }, TNameCase { "1.2.jpg", -1, -1, 0 },
    TNameCase { "12.j_pg", 12, -1, 2 }, TNameCase { "ab.c_1", -1, 2, 0 },
    TNameCase { "1_2147483647.jpg", 1, 2147483648LL, 2 }, TNameCase { "-5.jpg", -5, -1, 0 }),
    [](const auto& testInfo) { return testsupport::ParamName(testInfo.param.Name); });

TEST(TPictureTypeValue, PlainKindsIgnoreTheSuffix)
{
    for (int kind = 0; kind < 4; ++kind)
        for (const std::int64_t suffix : { -1, 0, 1, 2, 3, 8 })
            EXPECT_EQ(PictureTypeValue(kind, suffix), kind);
    EXPECT_EQ(PictureTypeValue(4, 0), 0);
    EXPECT_EQ(PictureTypeValue(4, 3), 3);
    EXPECT_EQ(PictureTypeValue(4, 4), 2);
    EXPECT_EQ(PictureTypeValue(4, -1), 2);
}

TEST(TIsAcceptedExtension, TakesExactlySevenLowerCaseExtensions)
{
    for (const char* accepted : { ".jpg", ".jpeg", ".png", ".gif", ".bmp", ".tif", ".tiff" })
        EXPECT_TRUE(IsAcceptedExtension(accepted)) << accepted;
    for (const char* refused : { ".JPG", ".jpe", ".jfif", ".tga", "jpg", ".", "", ".jpg ", ".txt" })
        EXPECT_FALSE(IsAcceptedExtension(refused)) << refused;
}

struct TUtf8Case {
    const char* Bytes;
    bool Valid;
};

class TIsValidUtf8 : public testing::TestWithParam<TUtf8Case> {};

TEST_P(TIsValidUtf8, RefusesWhatUnicodeForbids)
{
    EXPECT_EQ(IsValidUtf8(GetParam().Bytes), GetParam().Valid);
}

INSTANTIATE_TEST_SUITE_P(Sequences, TIsValidUtf8, testing::Values(
    TUtf8Case { "plain 1234.jpg", true }, TUtf8Case { "", true },
    TUtf8Case { "\xC3\xA9t\xC3\xA9", true },            // été
    TUtf8Case { "\xE2\x82\xAC", true },                 // euro sign
    TUtf8Case { "\xF0\x9F\x98\x80", true },             // an emoji
    TUtf8Case { "\xF4\x8F\xBF\xBF", true },             // U+10FFFF
    TUtf8Case { "\xE9t\xE9.jpg", false },               // Latin-1 été
    TUtf8Case { "\xC0\xAF", false }, TUtf8Case { "\xE0\x80\xAF", false }, // overlong
    TUtf8Case { "\xED\xA0\x80", false },                // a surrogate
    TUtf8Case { "\xF4\x90\x80\x80", false },            // above U+10FFFF
    TUtf8Case { "\xC3", false }, TUtf8Case { "\xE2\x82", false }, // cut short
    TUtf8Case { "\x80", false }, TUtf8Case { "\xC3\x28", false }, TUtf8Case { "\xFF", false }),
    [](const auto& testInfo) { return testsupport::ParamName(testInfo.param.Bytes); });

} // namespace
