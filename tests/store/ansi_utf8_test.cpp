// tests/store/ansi_utf8_test.cpp
#include "store/config_db.h"

#include <clocale>

#include <gtest/gtest.h>

#include "tests/store/test_support.h"

namespace {

std::string Converted(std::string text)
{
    CConfigDb::AnsiToUtf8(text);
    return text;
}

TEST(AnsiToUtf8Test, GbkTextBecomesUtf8)
{
    GbkCodePage gbk;
    ASSERT_TRUE(gbk.Active()) << "no GBK code page on this machine (scripts/setup provides it)";
    // "D:\中文\client.db"
    EXPECT_EQ(Converted("D:\\\xd6\xd0\xce\xc4\\client.db"),
              "D:\\\xe4\xb8\xad\xe6\x96\x87\\client.db");
    // "乗" (81 5C): the trail byte looks like a backslash but belongs to the character.
    EXPECT_EQ(Converted("\x81\x5c\\"), "\xe4\xb9\x97\\");
    EXPECT_EQ(Converted("plain.db"), "plain.db");
    EXPECT_EQ(Converted(""), "");
}

#ifndef _WIN32
// Natively a path that the locale's character set cannot decode is kept as
// bytes; Windows substitutes characters instead and never refuses.
TEST(AnsiToUtf8Test, UndecodableTextIsKept)
{
    {
        GbkCodePage gbk;
        ASSERT_TRUE(gbk.Active())
            << "no zh_CN.GBK locale on this machine (scripts/setup provides it)";
        EXPECT_EQ(Converted("ab\xd6"), "ab\xd6");  // cut-off character
        EXPECT_EQ(Converted("\xd6\xd0\xff"), "\xd6\xd0\xff");
    }
    ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
    EXPECT_EQ(Converted("\xd6\xd0"), "\xd6\xd0");
}
#endif

}  // namespace
