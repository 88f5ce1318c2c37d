// tests/common/command_line_test.cpp
#include <gtest/gtest.h>

#include "common/command_line.h"

namespace {

TEST(CommandLine, ArgumentsStartAfterTheProgramName)
{
    EXPECT_STREQ(CommandLineArguments("Kestrel.exe -exit"), "-exit");
    EXPECT_STREQ(CommandLineArguments("\"C:\\Program Files\\K\\Kestrel.exe\"  -exit x"), "-exit x");
    EXPECT_STREQ(CommandLineArguments("\"C:\\K\\Kestrel.exe\"-exit"), "-exit");
    EXPECT_STREQ(CommandLineArguments("C:\\K\\Kestrel.exe"), "");
    EXPECT_STREQ(CommandLineArguments("\"C:\\unterminated"), "");
    EXPECT_STREQ(CommandLineArguments(""), "");
    EXPECT_EQ(CommandLineArguments(nullptr), nullptr);
}

TEST(CommandLine, ExitRequestIsACaseSensitiveSubstringOfTheArguments)
{
    EXPECT_TRUE(HasExitRequest("Kestrel.exe -exit"));
    EXPECT_TRUE(HasExitRequest("Kestrel.exe /x --exit-now"));
    EXPECT_FALSE(HasExitRequest("Kestrel.exe -EXIT"));
    EXPECT_FALSE(HasExitRequest("Kestrel.exe -exi t"));
    EXPECT_FALSE(HasExitRequest(nullptr));
    // A folder named like the switch is part of the program name, not a request.
    EXPECT_FALSE(HasExitRequest("\"C:\\tools-exit\\Kestrel.exe\""));
    EXPECT_FALSE(HasExitRequest("C:\\tools-exit\\Kestrel.exe"));
    EXPECT_TRUE(HasExitRequest("\"C:\\tools-exit\\Kestrel.exe\" -exit"));
}

}  // namespace
