// tests/e2e/server_page_test.cpp
// The server page of the running configuration program: what it loads, what
// it writes when the main window closes, its field validation, and its test
// against real SOCKS servers, a scripted one and a silent one, driven from
// outside.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/scripted_server.h"
#include "tests/e2e/server_page_case.h"

namespace {

using e2e::EnvironmentText;
using e2e::kResultMs;
using e2e::WaitUntil;

class WinsockEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};
const auto* const g_winsock = ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);

class ServerPageTest : public ServerPageCase {
protected:
    // Clicks Test and reads the box that answers: its text, caption and icon
    // all say whether the settings work.
    void ExpectTestResult(bool works, const std::string& what)
    {
        ClickTest();
        MessageBoxSeen seen;
        ASSERT_TRUE(ReadAndCloseBox(seen, kResultMs)) << what;
        EXPECT_EQ(seen.text, works ? "验证成功。" : "验证未能通过") << what;
        EXPECT_EQ(seen.caption, "Corvane代理软件 客户端") << what;
        EXPECT_EQ(seen.informationIcon, works) << what;
        EXPECT_EQ(seen.exclamationIcon, !works) << what;
        EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(Item(IDC_TEST_SERVER)) != FALSE; }))
            << what;
    }
};

TEST_F(ServerPageTest, NewDatabaseShowsTheDefaultsAndClosingWritesThemOnce)
{
    Open();
    EXPECT_EQ(Address(), "192.168.1.1");
    EXPECT_EQ(e2e::WindowText(Item(IDC_SERVER_PORT)), "1080");
    EXPECT_TRUE(Checked(IDC_SOCKS5));
    EXPECT_FALSE(Checked(IDC_SOCKS4));
    EXPECT_EQ(e2e::WindowText(Item(IDC_USER_NAME)), "");
    EXPECT_EQ(SendMessageA(Item(IDC_PASSWORD), EM_GETLIMITTEXT, 0, 0), 30);
    EXPECT_FALSE(IsWindowVisible(Item(IDC_APPLY_SERVER)));
    SaveShot(m_window, "server-page");

    // Typed, the password stops at 30 characters.
    for (int i = 0; i < 31; ++i)
        PostMessageA(Item(IDC_PASSWORD), WM_CHAR, 'x', 0);
    EXPECT_TRUE(WaitUntil([&] {
        return SendMessageA(Item(IDC_PASSWORD), WM_GETTEXTLENGTH, 0, 0) == 30;
    }));
    SetText(IDC_PASSWORD, "");

    ASSERT_TRUE(CloseAndWait());
    EXPECT_EQ(ServerRows(), (std::vector<std::string>{"SingleServer|192.168.1.1|1080|||5"}));
    EXPECT_EQ(CounterMoves(), 1u);
}

TEST_F(ServerPageTest, StoredServerShowsAsStoredAndEditsReachTheDatabaseAtCloseOnly)
{
    ASSERT_TRUE(m_db.InitDatabase());
    ServerRecord stored;
    stored.IP = "10.0.0.254";
    stored.Port = 1081;
    stored.Username = "user";
    stored.Password = "secret";
    stored.Type = 4;
    ASSERT_TRUE(m_db.SaveServer(stored));
    Open();
    EXPECT_EQ(Address(), "10.0.0.254");
    EXPECT_EQ(e2e::WindowText(Item(IDC_SERVER_PORT)), "1081");
    EXPECT_TRUE(Checked(IDC_SOCKS4));
    EXPECT_FALSE(Checked(IDC_SOCKS5));
    EXPECT_EQ(e2e::WindowText(Item(IDC_USER_NAME)), "user");

    // An edit, then another tab: nothing is written yet.
    SetText(IDC_SERVER_PORT, " 2080 ");
    ASSERT_TRUE(e2e::ClickTab(m_tab, 1));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(m_page); }));
    EXPECT_EQ(ServerRows(), (std::vector<std::string>{"SingleServer|10.0.0.254|1081|user|secret|4"}));
    EXPECT_EQ(CounterMoves(), 0u);

    ASSERT_TRUE(CloseAndWait());
    EXPECT_EQ(ServerRows(), (std::vector<std::string>{"SingleServer|10.0.0.254|2080|user|secret|4"}));
    EXPECT_EQ(CounterMoves(), 1u);
}

TEST_F(ServerPageTest, InvalidFieldsShowTheFrameworksMessageStartNoTestAndAreNotSaved)
{
    e2e::ScriptedServer server;  // silent
    ASSERT_NE(server.Port(), 0);
    Open();
    SetServer(127, 0, 0, 1, "1", false);
    const struct {
        const char* port;
        const char* password;
        const char* message;
        int focused;
    } cases[] = {
        {"", "", "请键入一个整数。", IDC_SERVER_PORT},
        {"abc", "", "请键入一个整数。", IDC_SERVER_PORT},
        {"12a", "", "请键入一个整数。", IDC_SERVER_PORT},
        {"1.5", "", "请键入一个整数。", IDC_SERVER_PORT},
        {"0", "", "“请填入一个在1和65535之间的整数。”", IDC_SERVER_PORT},
        {"65536", "", "“请填入一个在1和65535之间的整数。”", IDC_SERVER_PORT},
        {"-1", "", "“请填入一个在1和65535之间的整数。”", IDC_SERVER_PORT},
    };
    for (const auto& c : cases) {
        SetText(IDC_SERVER_PORT, c.port);
        ClickTest();
        MessageBoxSeen seen;
        ASSERT_TRUE(ReadAndCloseBox(seen)) << "port '" << c.port << "'";
        EXPECT_EQ(seen.text, c.message) << "port '" << c.port << "'";
        EXPECT_EQ(seen.caption, "Kestrel");
        EXPECT_TRUE(seen.exclamationIcon) << "port '" << c.port << "'";
        EXPECT_TRUE(IsWindowEnabled(Item(IDC_TEST_SERVER)));
    }
    // A password longer than the field takes (set, not typed) fails when taken.
    SetText(IDC_SERVER_PORT, std::to_string(server.Port()));
    SetText(IDC_PASSWORD, std::string(31, 'p'));
    ClickTest();
    MessageBoxSeen tooLong;
    ASSERT_TRUE(ReadAndCloseBox(tooLong));
    EXPECT_EQ(tooLong.text, "“请填入不多于30个的字符。”");
    EXPECT_EQ(server.Accepted(), 0) << "a test started despite invalid fields";

    // Invalid at close: the message shows while the window closes, and the
    // stored row stays as it was.
    SetText(IDC_PASSWORD, "");
    SetText(IDC_SERVER_PORT, "abc");
    const std::vector<std::string> before = ServerRows();
    ASSERT_TRUE(PostMessageA(m_window, WM_SYSCOMMAND, SC_CLOSE, 0));
    MessageBoxSeen atClose;
    ASSERT_TRUE(ReadAndCloseBox(atClose));
    EXPECT_EQ(atClose.text, "请键入一个整数。");
    ASSERT_TRUE(m_kestrel->WaitForExit(5000));
    EXPECT_EQ(ServerRows(), before);
    EXPECT_EQ(CounterMoves(), 0u);
}

TEST_F(ServerPageTest, TestAgainstRealServersReportsEachOutcome)
{
    const std::string user = EnvironmentText("KESTREL_TEST_SOCKS_USER");
    const std::string password = EnvironmentText("KESTREL_TEST_SOCKS_PASS");
    ASSERT_FALSE(user.empty());
    Open();
    const struct {
        const char* what;
        int port;
        bool socks4;
        std::string user;
        std::string password;
        bool works;
    } cases[] = {
        {"microsocks", m_portBase, false, "", "", true},
        {"microsocks with login", m_portBase + 1, false, user, password, true},
        {"microsocks, wrong password", m_portBase + 1, false, user, password + "x", false},
        {"Dante SOCKS 4 ignores the login", m_portBase + 2, true, "anyone", "", true},
        {"Dante SOCKS 5", m_portBase + 2, false, "", "", true},
        {"Dante user name method", m_portBase + 3, false, user, password, true},
        {"a user name the test cannot carry", m_portBase + 3, false, std::string(256, 'u'),
         password, false},
        {"nothing listening", 1, false, "", "", false},
        {"port 65535 is valid", 65535, false, "", "", false},
    };
    for (const auto& c : cases) {
        SetServer(127, 0, 0, 1, std::to_string(c.port), c.socks4, c.user, c.password);
        ExpectTestResult(c.works, c.what);
    }
    // Testing saves nothing.
    EXPECT_EQ(CounterMoves(), 0u);
}

// The page's reading of each answer a server can give, against a scripted
// server: every SOCKS 5 reply code, the refusals before it, and SOCKS 4.
TEST_F(ServerPageTest, EachServerAnswerShowsItsResult)
{
    Open();
    // Bytes the page sends: the greeting offers two methods, the login is
    // "u"/"p", the CONNECT and the SOCKS 4 request are for 127.0.0.1:80.
    const int greeting = 4, login = 5, connect = 10, socks4Request = 9;
    const std::string noLogin("\x05\x00", 2);
    const std::string askLogin("\x05\x02", 2);
    const std::string loginTaken("\x01\x00", 2);
    auto reply5 = [](int code) {
        return std::string("\x05", 1) + static_cast<char>(code) +
               std::string("\x00\x01\x0a\x00\x00\x01\x1f\x90", 8);
    };
    auto reply4 = [](int code) {
        return std::string("\x00", 1) + static_cast<char>(code) +
               std::string("\x00\x50\x7f\x00\x00\x01", 6);
    };
    struct Case {
        std::string what;
        bool socks4;
        bool withLogin;
        std::vector<e2e::Turn> turns;
        bool works;
    };
    std::vector<Case> cases;
    const struct {
        int code;
        const char* name;
        bool works;
    } codes[] = {
        {0x00, "granted", true},
        {0x01, "general failure", false},
        {0x02, "not allowed by ruleset", true},
        {0x03, "network unreachable", true},
        {0x04, "host unreachable", true},
        {0x05, "connection refused", true},
        {0x06, "TTL expired", true},
        {0x07, "command not supported", false},
        {0x08, "address type not supported", false},
        {0x09, "a code SOCKS 5 does not have", false},
    };
    for (const auto& c : codes)
        cases.push_back({std::string("SOCKS 5 ") + c.name, false, false,
                         {{greeting, noLogin}, {connect, reply5(c.code)}}, c.works});
    cases.push_back({"login taken, destination refused", false, true,
                     {{greeting, askLogin}, {login, loginTaken}, {connect, reply5(0x05)}}, true});
    cases.push_back({"login taken, general failure", false, true,
                     {{greeting, askLogin}, {login, loginTaken}, {connect, reply5(0x01)}}, false});
    cases.push_back({"login refused", false, true,
                     {{greeting, askLogin}, {login, std::string("\x01\x01", 2)}}, false});
    cases.push_back(
        {"no acceptable method", false, true, {{greeting, std::string("\x05\xff", 2)}}, false});
    cases.push_back({"SOCKS 4 granted", true, false, {{socks4Request, reply4(0x5A)}}, true});
    for (int code : {0x5B, 0x5C, 0x5D})
        cases.push_back({"SOCKS 4 reply " + std::to_string(code), true, false,
                         {{socks4Request, reply4(code)}}, false});

    for (const Case& c : cases) {
        e2e::ScriptedServer server(e2e::Turns(c.turns));
        ASSERT_NE(server.Port(), 0);
        SetServer(127, 0, 0, 1, std::to_string(server.Port()), c.socks4, c.withLogin ? "u" : "",
                  c.withLogin ? "p" : "");
        ExpectTestResult(c.works, c.what);
        EXPECT_EQ(server.Accepted(), 1) << c.what;
    }
    EXPECT_EQ(CounterMoves(), 0u);
}

TEST_F(ServerPageTest, SilentServerTestKeepsTheWindowAnsweringAndRunsOnce)
{
    e2e::ScriptedServer server;  // silent
    ASSERT_NE(server.Port(), 0);
    Open();
    SetServer(127, 0, 0, 1, std::to_string(server.Port()), false);
    ClickTest();
    ClickTest();
    ASSERT_TRUE(WaitUntil([&] { return server.Accepted() >= 1; }));
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_TEST_SERVER)));

    // The window answers while the worker waits on the server.
    const ULONGLONG before = GetTickCount64();
    DWORD_PTR ignored = 0;
    ASSERT_NE(SendMessageTimeoutA(m_window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored), 0);
    const ULONGLONG answeredMs = GetTickCount64() - before;
    EXPECT_LT(answeredMs, 2000u);
    std::printf("window answered during the test after %llu ms\n", answeredMs);

    MessageBoxSeen seen;
    ASSERT_TRUE(ReadAndCloseBox(seen, kResultMs));
    EXPECT_EQ(seen.text, "验证未能通过");
    EXPECT_EQ(server.Accepted(), 1) << "the second click started another test";
}

TEST_F(ServerPageTest, ClosingDuringATestEndsAtOnceAndSavesOnce)
{
    e2e::ScriptedServer server;  // silent
    ASSERT_NE(server.Port(), 0);
    Open();
    SetServer(127, 0, 0, 1, std::to_string(server.Port()), true);
    ClickTest();
    ASSERT_TRUE(WaitUntil([&] { return server.Accepted() == 1; }));

    const ULONGLONG before = GetTickCount64();
    ASSERT_TRUE(CloseAndWait(3000));
    std::printf("ended %llu ms after the close\n", GetTickCount64() - before);
    EXPECT_EQ(m_kestrel->ExitCode(), static_cast<DWORD>(IDCANCEL));
    EXPECT_EQ(ServerRows(),
              (std::vector<std::string>{"SingleServer|127.0.0.1|" + std::to_string(server.Port()) +
                                        "|||4"}));
    EXPECT_EQ(CounterMoves(), 1u);
}

}  // namespace
