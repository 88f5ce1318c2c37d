// tests/client/client_units_test.cpp
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "client/kestrel_app.h"
#include "client/page_tab_ctrl.h"
#include "client/open_url.h"
#include "client/address_text.h"
#include "client/server_test_worker.h"
#include "common/ansi_text.h"
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

// A drop as the shell hands it over: one file name.
HGLOBAL MakeDrop()
{
    const char file[] = "C:\\a.exe\0";
    HGLOBAL drop = GlobalAlloc(GHND, sizeof(DROPFILES) + sizeof file);
    auto* header = static_cast<DROPFILES*>(GlobalLock(drop));
    header->pFiles = sizeof(DROPFILES);
    std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), file, sizeof file);
    GlobalUnlock(drop);
    return drop;
}

TEST(PageTabCtrl, ReleasesFilesDroppedOnTheTabStrip)
{
    HWND plain = CreateWindowExA(WS_EX_ACCEPTFILES, WC_TABCONTROLA, "", WS_POPUP, 0, 0, 100, 100,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    HWND ours = CreateWindowExA(WS_EX_ACCEPTFILES, WC_TABCONTROLA, "", WS_POPUP, 0, 0, 100, 100,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(plain && ours);
    CPageTabCtrl tabs;
    ASSERT_TRUE(tabs.SubclassWindow(ours));

    // The bare control keeps the drop's memory; ours gives it back.
    HGLOBAL kept = MakeDrop();
    SendMessageA(plain, WM_DROPFILES, reinterpret_cast<WPARAM>(kept), 0);
    EXPECT_NE(GlobalFlags(kept), static_cast<UINT>(GMEM_INVALID_HANDLE));
    GlobalFree(kept);

    HGLOBAL released = MakeDrop();
    SendMessageA(ours, WM_DROPFILES, reinterpret_cast<WPARAM>(released), 0);
    EXPECT_EQ(GlobalFlags(released), static_cast<UINT>(GMEM_INVALID_HANDLE));

    DestroyWindow(ours);
    DestroyWindow(plain);
    EXPECT_EQ(tabs.GetSafeHwnd(), nullptr);
}

TEST(GetOctet, ReadsTheLeadingDigitsOfEachFieldAsABytes)
{
    const char* address = "10.0.0.254";
    EXPECT_EQ(GetOctet(address, 0), 10);
    EXPECT_EQ(GetOctet(address, 3), 254);
    // Only the low 8 bits count, however long the number.
    EXPECT_EQ(GetOctet("256.999.4294967297.7x", 0), 0);
    EXPECT_EQ(GetOctet("256.999.4294967297.7x", 1), 999 & 0xFF);
    EXPECT_EQ(GetOctet("256.999.4294967297.7x", 2), 1);
    EXPECT_EQ(GetOctet("256.999.4294967297.7x", 3), 7);
    // Fields without digits, and fields that do not exist, give 0; the
    // search never runs past the end of the text.
    EXPECT_EQ(GetOctet("a.b", 0), 0);
    EXPECT_EQ(GetOctet("1.2", 3), 0);
    EXPECT_EQ(GetOctet("", 1), 0);
    EXPECT_EQ(GetOctet("1.", 1), 0);
    EXPECT_EQ(GetOctet("1.", 2), 0);
}

// The page's reading of a test report: what it shows for each way a test
// can end.
TEST(TestShowsServerWorks, CountsEveryAnswerThatFollowsAnAcceptedLogin)
{
    const struct {
        int protocol;
        ProxyTestEnd end;
        int reply;
        bool works;
    } cases[] = {
        {kProxyProtocolSocks5, ProxyTestEnd::Answered, 0x00, true},   // granted
        {kProxyProtocolSocks5, ProxyTestEnd::Answered, 0x01, false},  // general failure
        {kProxyProtocolSocks5, ProxyTestEnd::Answered, 0x02, true},   // not allowed by ruleset
        {kProxyProtocolSocks5, ProxyTestEnd::Answered, 0x03, true},   // network unreachable
        {kProxyProtocolSocks5, ProxyTestEnd::Answered, 0x04, true},   // host unreachable
        {kProxyProtocolSocks5, ProxyTestEnd::Answered, 0x05, true},   // connection refused
        {kProxyProtocolSocks5, ProxyTestEnd::Answered, 0x06, true},   // TTL expired
        {kProxyProtocolSocks5, ProxyTestEnd::Answered, 0x07, false},  // command not supported
        {kProxyProtocolSocks5, ProxyTestEnd::Answered, 0x08, false},  // address type not supported
        {kProxyProtocolSocks5, ProxyTestEnd::Answered, 0x09, false},  // no such code
        {kProxyProtocolSocks5, ProxyTestEnd::Answered, 0x5A, false},  // SOCKS 4's grant
        {kProxyProtocolSocks5, ProxyTestEnd::Answered, 0xFF, false},
        {kProxyProtocolSocks4, ProxyTestEnd::Answered, 0x5A, true},
        {kProxyProtocolSocks4, ProxyTestEnd::Answered, 0x5B, false},
        {kProxyProtocolSocks4, ProxyTestEnd::Answered, 0x5C, false},
        {kProxyProtocolSocks4, ProxyTestEnd::Answered, 0x5D, false},
        {kProxyProtocolSocks4, ProxyTestEnd::Answered, 0x00, false},  // SOCKS 5's grant
        {kProxyProtocolSocks4, ProxyTestEnd::Answered, 0x05, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.works, TestShowsServerWorks(c.protocol, {c.end, c.reply}))
            << c.protocol << " reply " << c.reply;

    // Whatever code came with it, only an answer to the CONNECT counts.
    for (ProxyTestEnd end :
         {ProxyTestEnd::Unusable, ProxyTestEnd::NoConnection, ProxyTestEnd::MethodRefused,
          ProxyTestEnd::LoginRefused, ProxyTestEnd::ProtocolError, ProxyTestEnd::TimedOut})
        for (int protocol : {kProxyProtocolSocks4, kProxyProtocolSocks5})
            for (int reply : {-1, 0x00, 0x5A})
                EXPECT_FALSE(TestShowsServerWorks(protocol, {end, reply}))
                    << static_cast<int>(end) << ' ' << protocol << ' ' << reply;
}

TEST(WideFromAnsi, ConvertsWholeTextsInTheSystemsCodePage)
{
    ASSERT_EQ(GetACP(), 936u) << "the tests run under code page 936";
    const struct {
        std::string ansi;
        std::wstring wide;
    } cases[] = {
        {"", L""},
        {"Kestrel", L"Kestrel"},
        {"\xB4\xFA\xC0\xED", L"\u4EE3\u7406"},  // GBK for the two characters of "proxy"
        {"C:\\\xB3\xCC\xD0\xF2.exe", L"C:\\\u7A0B\u5E8F.exe"},
        {std::string(300, 'a'), std::wstring(300, L'a')},  // no path-length limit
    };
    for (const auto& c : cases)
        EXPECT_EQ(WideFromAnsi(c.ansi.c_str()), c.wide) << c.ansi;
    EXPECT_EQ(WideFromAnsi(nullptr), L"");
}

}  // namespace
