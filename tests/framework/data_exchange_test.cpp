// tests/framework/data_exchange_test.cpp
// What the data exchange accepts as a whole number, and how it fills in the
// framework's messages.
#include <gtest/gtest.h>

#include "framework/data_exchange.h"

namespace {

TEST(ParseWholeInt, AcceptsOneDecimalNumberWithBlanksAroundIt)
{
    const struct {
        const char* text;
        int value;
    } accepted[] = {{"1080", 1080},      {" 65535\t", 65535},          {"+7", 7},
                    {"-1", -1},          {"007", 7},                   {"2147483647", 2147483647},
                    {"-2147483648", -2147483647 - 1}};
    for (const auto& a : accepted) {
        int value = 0;
        EXPECT_TRUE(ParseWholeInt(a.text, value)) << a.text;
        EXPECT_EQ(value, a.value) << a.text;
    }
    for (const char* text : {"", "   ", "abc", "12a", "1.5", "1 2", "0x10", "+", "-", "2147483648",
                             "-2147483649", "99999999999999999999"}) {
        int value = 42;
        EXPECT_FALSE(ParseWholeInt(text, value)) << "'" << text << "'";
        EXPECT_EQ(value, 42) << "'" << text << "'";
    }
}

TEST(FormatFrameworkString, FillsNumberedPlaceholders)
{
    EXPECT_EQ(FormatFrameworkString("between %1 and %2.", {"1", "65535"}), "between 1 and 65535.");
    EXPECT_EQ(FormatFrameworkString("%2%1%3 100%", {"a", "b"}), "ba 100%");
}

}  // namespace
