#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Trim, DropsBlanksAndControlsAtBothEndsOnly)
{
    EXPECT_EQ(Trim("  user_name \r\n"), "user_name");
    EXPECT_EQ(Trim("\t\x01 a b \x1F"), "a b"); // every byte up to the blank counts
    EXPECT_EQ(Trim(" \t\r\n "), "");
    EXPECT_EQ(Trim(""), "");
    EXPECT_EQ(Trim("\xC3\xA9 "), "\xC3\xA9"); // bytes above 127 are text
    EXPECT_EQ(Trim(std::string("\0x\0", 3)), "x");
}

TEST(AsciiCase, FoldsOnlyTheAsciiLetters)
{
    EXPECT_EQ(AsciiLowerCase(".JPEG"), ".jpeg");
    EXPECT_EQ(AsciiLowerCase("Az@[`{\xC3\x89"), "az@[`{\xC3\x89");
    EXPECT_EQ(AsciiUpperCase("unicode_fss"), "UNICODE_FSS");
    EXPECT_EQ(AsciiUpperCase("az@[`{\xC3\xA9"), "AZ@[`{\xC3\xA9");
}

TEST(SameTextAscii, IgnoresTheCaseOfAsciiLettersOnly)
{
    EXPECT_TRUE(SameTextAscii("lc_ctype", "LC_CTYPE"));
    EXPECT_TRUE(SameTextAscii("", ""));
    EXPECT_FALSE(SameTextAscii("png", "pn"));
    EXPECT_FALSE(SameTextAscii("pn", "png"));
    EXPECT_FALSE(SameTextAscii("@", "`")); // neighbours of the letters are no letters
    EXPECT_FALSE(SameTextAscii("\xC3\xA9", "\xC3\x89"));
}

TEST(TextReplaceAll, DoublesQuotes)
{
    EXPECT_EQ(TextReplaceAll("no quotes", "'", "''"), "no quotes");
    EXPECT_EQ(TextReplaceAll("it's", "'", "''"), "it''s");
    EXPECT_EQ(TextReplaceAll("''", "'", "''"), "''''");
    EXPECT_EQ(TextReplaceAll("aaa", "aa", "b"), "ba"); // left to right, no overlap
    EXPECT_EQ(TextReplaceAll("AbA", "a", "x"), "AbA"); // exact case
    EXPECT_EQ(TextReplaceAll("abc", "", "x"), "abc");
}

} // namespace
