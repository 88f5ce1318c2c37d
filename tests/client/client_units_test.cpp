// tests/client/client_units_test.cpp
#include <windows.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "client/kestrel_app.h"
#include "client/open_url.h"
#include "common/instance_names.h"

namespace {

TEST(ExplorerParameter, QuotesTheAddressOrRefusesWhatDoesNotFit)
{
    char buffer[kExplorerParameterSize];
    EXPECT_STREQ(ExplorerParameter("http://host/bbs/index.asp?boardid=7", buffer),
                 "\"http://host/bbs/index.asp?boardid=7\"");
    // Already quoted: passed on as it is, whatever its length.
    const std::string quoted = "\"" + std::string(3000, 'q') + "\"";
    EXPECT_EQ(ExplorerParameter(quoted.c_str(), buffer), quoted.c_str());
    EXPECT_EQ(ExplorerParameter(nullptr, buffer), nullptr);

    // Text, two quotes and the terminator: 2081 characters fit, 2082 do not.
    const std::string longest(kExplorerParameterSize - 3, 'a');
    const char* fits = ExplorerParameter(longest.c_str(), buffer);
    ASSERT_NE(fits, nullptr);
    EXPECT_EQ(std::string(fits), "\"" + longest + "\"");

    char guarded[kExplorerParameterSize + 8];
    std::memset(guarded, 'G', sizeof guarded);
    auto& inner = *reinterpret_cast<char(*)[kExplorerParameterSize]>(guarded);
    const std::string tooLong(kExplorerParameterSize - 2, 'b');
    EXPECT_EQ(ExplorerParameter(tooLong.c_str(), inner), nullptr);
    EXPECT_EQ(guarded[0], '\0');
    EXPECT_EQ(std::string(guarded + kExplorerParameterSize, 8), std::string(8, 'G'));
    EXPECT_FALSE(OpenUrlWithExplorer(tooLong.c_str()));
    EXPECT_FALSE(OpenUrlWithExplorer(nullptr));
}

TEST(MainWindowClass, IsTheDialogClassUnderTheProgramsName)
{
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    ASSERT_TRUE(RegisterMainWindowClass(instance));
    WNDCLASSA dialogClass = {};
    WNDCLASSA mainClass = {};
    ASSERT_TRUE(GetClassInfoA(instance, "#32770", &dialogClass));
    ASSERT_TRUE(GetClassInfoA(instance, kMainWindowClass, &mainClass));
    EXPECT_EQ(mainClass.cbWndExtra, dialogClass.cbWndExtra);
    EXPECT_EQ(mainClass.lpfnWndProc, dialogClass.lpfnWndProc);
    EXPECT_EQ(mainClass.style, dialogClass.style);
    // A second registration fails quietly.
    EXPECT_FALSE(RegisterMainWindowClass(instance));
}

}  // namespace
