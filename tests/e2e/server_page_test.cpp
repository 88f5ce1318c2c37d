// tests/e2e/server_page_test.cpp
// The server page of the running configuration program: what it loads, what
// it writes when the main window closes, its field validation, and its test
// against real SOCKS servers and a silent one, driven from outside.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client/resource.h"
#include "store/config_db.h"
#include "tests/e2e/kestrel_case.h"
#include "tests/e2e/remote_buffer.h"
#include "tests/e2e/text.h"
#include "tests/e2e/window_driver.h"

namespace {

using e2e::WaitUntil;

// The program's whole test time-out is 10 s; a result comes well before this.
const DWORD kResultMs = 20000;

int EnvironmentInt(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

std::string EnvironmentText(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// A server that accepts connections and never answers, counting them.
class SilentServer {
public:
    SilentServer()
    {
        m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (m_listener == INVALID_SOCKET ||
            bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(m_listener, 8) != 0 ||
            getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] {
            for (;;) {
                SOCKET client = accept(m_listener, nullptr, nullptr);
                if (client == INVALID_SOCKET)
                    return;
                ++m_accepted;
                m_clients.push_back(client);
            }
        });
    }
    ~SilentServer()
    {
        closesocket(m_listener);  // ends accept()
        if (m_acceptor.joinable())
            m_acceptor.join();
        for (SOCKET client : m_clients)
            closesocket(client);
    }
    int Port() const { return m_port; }
    int Accepted() const { return m_accepted; }

private:
    SOCKET m_listener = INVALID_SOCKET;
    int m_port = 0;
    std::atomic<int> m_accepted{0};
    std::vector<SOCKET> m_clients;
    std::thread m_acceptor;
};

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

struct MessageBoxSeen {
    std::string caption;  // UTF-8
    std::string text;
    bool informationIcon = false;
    bool exclamationIcon = false;
};

class ServerPageTest : public KestrelCase {
protected:
    void SetUp() override
    {
        KestrelCase::SetUp();
        if (HasFatalFailure())
            return;
        m_folder = MakeProgramFolder("program");
        m_db.SetDbPath(m_folder + "\\client.db");
        m_portBase = EnvironmentInt("KESTREL_TEST_PORT_BASE", 41080);
    }

    // Starts the program and shows the server page.
    void Open()
    {
        m_kestrel = &Start(m_folder);
        m_window = WaitForMainWindow(*m_kestrel);
        ASSERT_NE(m_window, nullptr);
        // From here: the program list page's notification at start-up is not this page's.
        m_counterAtStart = ChangeCounter();
        m_tab = GetDlgItem(m_window, IDC_PAGE_TAB);
        ASSERT_TRUE(e2e::ClickTab(m_tab, 3));
        m_page = GetDlgItem(m_tab, IDD_SERVER_PAGE);
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(m_page) != FALSE; }));
    }

    HWND Item(int id) const { return GetDlgItem(m_page, id); }

    std::string Address() const
    {
        e2e::RemoteBuffer buffer(m_kestrel->Id(), sizeof(DWORD));
        DWORD address = 0;
        if (!buffer.Valid() ||
            SendMessageA(Item(IDC_SERVER_ADDRESS), IPM_GETADDRESS, 0,
                         reinterpret_cast<LPARAM>(buffer.At(0))) < 0 ||
            !buffer.Read(0, &address, sizeof address))
            return "?";
        return std::to_string(FIRST_IPADDRESS(address)) + "." +
               std::to_string(SECOND_IPADDRESS(address)) + "." +
               std::to_string(THIRD_IPADDRESS(address)) + "." +
               std::to_string(FOURTH_IPADDRESS(address));
    }

    void SetServer(BYTE a, BYTE b, BYTE c, BYTE d, const std::string& port, bool socks4,
                   const std::string& user = "", const std::string& password = "")
    {
        SendMessageA(Item(IDC_SERVER_ADDRESS), IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
        SetText(IDC_SERVER_PORT, port);
        SetText(IDC_USER_NAME, user);
        SetText(IDC_PASSWORD, password);
        ASSERT_TRUE(e2e::ClickButton(Item(socks4 ? IDC_SOCKS4 : IDC_SOCKS5)));
    }

    void SetText(int id, const std::string& text)
    {
        SendMessageA(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }

    bool Checked(int id) const { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

    // Posted: a click that opens a box must not hold the driver.
    void ClickTest() { ASSERT_TRUE(PostMessageA(Item(IDC_TEST_SERVER), BM_CLICK, 0, 0)); }

    HWND FindBox(DWORD timeoutMs) const
    {
        HWND box = nullptr;
        WaitUntil(
            [&] {
                box = e2e::FindTopLevel(m_kestrel->Id(), [&](HWND window) {
                    char className[16] = {};
                    GetClassNameA(window, className, sizeof className);
                    return window != m_window && IsWindowVisible(window) &&
                           std::string(className) == "#32770";
                });
                return box != nullptr;
            },
            timeoutMs);
        return box;
    }

    // Reads the box that opens, then closes it with its OK button.
    bool ReadAndCloseBox(MessageBoxSeen& seen, DWORD timeoutMs = e2e::kPatienceMs)
    {
        HWND box = FindBox(timeoutMs);
        if (box == nullptr)
            return false;
        SaveShot(box, "server-page-box");
        for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            char className[16] = {};
            GetClassNameA(child, className, sizeof className);
            if (lstrcmpiA(className, "Static") != 0)
                continue;
            const LONG style = GetWindowLongA(child, GWL_STYLE);
            if ((style & SS_TYPEMASK) == SS_ICON) {
                seen.informationIcon = IconLooksLike(child, IDI_INFORMATION, IDI_EXCLAMATION);
                seen.exclamationIcon = IconLooksLike(child, IDI_EXCLAMATION, IDI_INFORMATION);
            } else if (seen.text.empty()) {
                seen.text = e2e::Utf8FromAnsi(e2e::WindowText(child));
            }
        }
        seen.caption = e2e::Utf8FromAnsi(e2e::WindowText(box));
        if (!e2e::ClickButton(GetDlgItem(box, IDOK)) &&
            !PostMessageA(box, WM_COMMAND, IDOK, 0))
            return false;
        return WaitUntil([&] { return !IsWindow(box); });
    }

    // Icon handles do not cross processes: the pixels on the screen are
    // compared with the two system icons drawn here, and must be nearer to
    // the expected one.
    static bool IconLooksLike(HWND iconControl, LPCSTR expected, LPCSTR other)
    {
        RECT rect;
        GetWindowRect(iconControl, &rect);
        const int width = GetSystemMetrics(SM_CXICON);
        const int height = GetSystemMetrics(SM_CYICON);
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        HGDIOBJ old = SelectObject(memory, bitmap);
        auto distance = [&](LPCSTR icon) {
            const COLORREF background = GetPixel(screen, rect.left, rect.top);
            HBRUSH brush = CreateSolidBrush(background);
            RECT all = {0, 0, width, height};
            FillRect(memory, &all, brush);
            DeleteObject(brush);
            DrawIconEx(memory, 0, 0, LoadIconA(nullptr, icon), width, height, 0, nullptr,
                       DI_NORMAL);
            long long sum = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const COLORREF a = GetPixel(screen, rect.left + x, rect.top + y);
                    const COLORREF b = GetPixel(memory, x, y);
                    sum += std::abs(GetRValue(a) - GetRValue(b)) +
                           std::abs(GetGValue(a) - GetGValue(b)) +
                           std::abs(GetBValue(a) - GetBValue(b));
                }
            return sum;
        };
        const bool nearer = distance(expected) < distance(other);
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        return nearer;
    }

    // Closes the main window as its close box does and waits for the end.
    ::testing::AssertionResult CloseAndWait(DWORD timeoutMs = 5000)
    {
        if (!PostMessageA(m_window, WM_SYSCOMMAND, SC_CLOSE, 0))
            return ::testing::AssertionFailure() << "not posted";
        if (!m_kestrel->WaitForExit(timeoutMs))
            return ::testing::AssertionFailure() << "still running";
        return ::testing::AssertionSuccess();
    }

    std::vector<std::string> ServerRows() const
    {
        std::vector<std::string> tables;
        std::vector<std::string> rows;
        ReadDatabase(m_folder + "\\client.db", tables, rows);
        return rows;
    }

    DWORD CounterMoves() const { return ChangeCounter() - m_counterAtStart; }

    std::string m_folder;
    CConfigDb m_db;
    int m_portBase = 41080;
    DWORD m_counterAtStart = 0;
    e2e::Process* m_kestrel = nullptr;
    HWND m_window = nullptr;
    HWND m_tab = nullptr;
    HWND m_page = nullptr;
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
    SilentServer server;
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
    const std::string succeeded = "验证成功。";
    const std::string failed = "验证未能通过";
    const struct {
        const char* what;
        int port;
        bool socks4;
        std::string user;
        std::string password;
        const std::string& result;
    } cases[] = {
        {"microsocks", m_portBase, false, "", "", succeeded},
        {"microsocks with login", m_portBase + 1, false, user, password, succeeded},
        {"microsocks, wrong password", m_portBase + 1, false, user, password + "x", failed},
        {"Dante SOCKS 4 ignores the login", m_portBase + 2, true, "anyone", "", succeeded},
        {"Dante SOCKS 5", m_portBase + 2, false, "", "", succeeded},
        {"Dante user name method", m_portBase + 3, false, user, password, succeeded},
        {"a user name the test cannot carry", m_portBase + 3, false, std::string(256, 'u'),
         password, failed},
        {"nothing listening", 1, false, "", "", failed},
        {"port 65535 is valid", 65535, false, "", "", failed},
    };
    for (const auto& c : cases) {
        SetServer(127, 0, 0, 1, std::to_string(c.port), c.socks4, c.user, c.password);
        ClickTest();
        MessageBoxSeen seen;
        ASSERT_TRUE(ReadAndCloseBox(seen, kResultMs)) << c.what;
        EXPECT_EQ(seen.text, c.result) << c.what;
        EXPECT_EQ(seen.caption, "Corvane代理软件 客户端") << c.what;
        EXPECT_EQ(seen.informationIcon, &c.result == &succeeded) << c.what;
        EXPECT_EQ(seen.exclamationIcon, &c.result == &failed) << c.what;
        EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(Item(IDC_TEST_SERVER)) != FALSE; }))
            << c.what;
    }
    // Testing saves nothing.
    EXPECT_EQ(CounterMoves(), 0u);
}

TEST_F(ServerPageTest, SilentServerTestKeepsTheWindowAnsweringAndRunsOnce)
{
    SilentServer server;
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
    SilentServer server;
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
