// tests/e2e/hostile_input_test.cpp
// What a user or a server may hand the configuration program: texts that
// quote, comment, format or run to the limit, kept byte for byte from the
// fields and the file dialog to client.db and back on the screen; and SOCKS
// servers that answer slowly, hang up at every step or answer garbage.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/scripted_server.h"
#include "tests/e2e/server_page_case.h"

namespace {

using e2e::kResultMs;
using e2e::WaitUntil;

class HostileInputTest : public ServerPageCase {
protected:
    // Clicks Test and waits for its box, making sure the window answers all
    // the while. The milliseconds until the box showed, or -1 without one.
    long TestUntilBox(MessageBoxSeen& seen, DWORD& slowestAnswerMs)
    {
        ClickTest();
        const ULONGLONG start = GetTickCount64();
        while (GetTickCount64() - start < kResultMs && FindBox(250) == nullptr) {
            const ULONGLONG asked = GetTickCount64();
            DWORD_PTR ignored = 0;
            if (SendMessageTimeoutA(m_window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored) == 0)
                return -1;
            slowestAnswerMs =
                std::max<DWORD>(slowestAnswerMs, static_cast<DWORD>(GetTickCount64() - asked));
        }
        const long shownMs = static_cast<long>(GetTickCount64() - start);
        return ReadAndCloseBox(seen) ? shownMs : -1;
    }

    std::vector<std::string> Labels() const
    {
        HWND list = GetDlgItem(GetDlgItem(m_tab, IDD_PROGRAM_LIST_PAGE), IDC_PROGRAM_LIST);
        return e2e::ListViewLabels(m_kestrel->Id(), list);
    }
};

bool Receive(SOCKET peer, int bytes)
{
    char buffer[512];
    while (bytes > 0) {
        const int got = recv(peer, buffer, std::min<int>(bytes, sizeof buffer), 0);
        if (got <= 0)
            return false;
        bytes -= got;
    }
    return true;
}

bool Send(SOCKET peer, const std::string& bytes)
{
    return send(peer, bytes.data(), static_cast<int>(bytes.size()), 0) ==
           static_cast<int>(bytes.size());
}

// A SOCKS 5 exchange without login for a test's IPv4 destination, played to
// step stopAt (0: at once), then hung up on. Each answer goes out one byte
// every pauseMs when asked.
e2e::ScriptedServer::Script Socks5Until(int stopAt, DWORD pauseMs = 0)
{
    return [stopAt, pauseMs](SOCKET peer) {
        const std::string choice("\x05\x00", 2);
        const std::string granted("\x05\x00\x00\x01\x7f\x00\x00\x01\x00\x50", 10);
        auto answer = [&](const std::string& bytes) {
            if (pauseMs == 0)
                return Send(peer, bytes);
            for (char byte : bytes) {
                Sleep(pauseMs);
                if (!Send(peer, std::string(1, byte)))
                    return false;
            }
            return true;
        };
        const std::vector<std::function<bool()>> steps = {
            [&] { return Receive(peer, 3); }, [&] { return answer(choice); },
            [&] { return Receive(peer, 10); }, [&] { return answer(granted.substr(0, 5)); },
            [&] { return answer(granted.substr(5)); }};
        for (int step = 0; step < stopAt && step < static_cast<int>(steps.size()); ++step)
            if (!steps[static_cast<std::size_t>(step)]())
                break;
        shutdown(peer, SD_BOTH);
    };
}

TEST_F(HostileInputTest, MisbehavingServersFailWithinTheTimeOutWhileTheWindowAnswers)
{
    Open();
    struct Case {
        std::string what;
        e2e::ScriptedServer::Script script;
    };
    std::vector<Case> cases = {{"one byte a second", Socks5Until(5, 1000)}};
    for (int step = 0; step < 5; ++step)
        cases.push_back({"hangs up after step " + std::to_string(step), Socks5Until(step)});
    cases.push_back(
        {"garbage at once", [](SOCKET peer) { Send(peer, "HTTP/1.0 400 Bad\r\n\r\n"); }});
    cases.push_back({"garbage after the greeting", [](SOCKET peer) {
                         Receive(peer, 3);
                         Send(peer, std::string("\x04\x5a\xff\xff garbage", 12));
                     }});
    for (const Case& c : cases) {
        e2e::ScriptedServer server(c.script);
        ASSERT_NE(server.Port(), 0);
        SetServer(127, 0, 0, 1, std::to_string(server.Port()), false);
        MessageBoxSeen seen;
        DWORD slowestAnswerMs = 0;
        const long shownMs = TestUntilBox(seen, slowestAnswerMs);
        std::printf("%s: failure shown after %ld ms, window answered within %lu ms\n",
                    c.what.c_str(), shownMs, static_cast<unsigned long>(slowestAnswerMs));
        ASSERT_GE(shownMs, 0) << c.what;
        EXPECT_LE(shownMs, 11000) << c.what << ": past the 10 s time-out plus a second";
        EXPECT_LT(slowestAnswerMs, 2000u) << c.what;
        EXPECT_EQ(seen.text, "验证未能通过") << c.what;
        EXPECT_EQ(server.Accepted(), 1) << c.what;
        ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(Item(IDC_TEST_SERVER)) != FALSE; }));
    }
}

TEST_F(HostileInputTest, QuotesCommentsPercentsGbkAndLongTextsAreKeptByteForByte)
{
    // Programs chosen in the file dialog, the longest a path can be.
    const std::vector<std::string> names = {"it's.exe", "');--.exe", "100%d%s%%.exe",
                                            e2e::AnsiFromUtf8("代理'程序.exe"),
                                            std::string(254 - m_folder.size(), 'x') + ".exe"};
    std::vector<std::string> paths;
    for (const std::string& name : names) {
        paths.push_back(m_folder + "\\" + name);
        ASSERT_TRUE(
            CopyFileA((m_folder + "\\KestrelTray.exe").c_str(), paths.back().c_str(), FALSE))
            << paths.back();
    }
    ASSERT_EQ(paths.back().size(), 259u);
    // User names, the last too long for a SOCKS login.
    const std::vector<std::string> users = {"it's \"quoted\"", "');-- DROP TABLE Server;",
                                            "%s%n%d%%", e2e::AnsiFromUtf8("用户'名"),
                                            std::string(300, 'u')};
    e2e::ScriptedServer server;  // silent
    ASSERT_NE(server.Port(), 0);

    Open();
    ASSERT_TRUE(e2e::ClickTab(m_tab, 2));
    HWND programs = GetDlgItem(m_tab, IDD_PROGRAM_LIST_PAGE);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(programs) != FALSE; }));
    for (const std::string& path : paths) {
        ASSERT_TRUE(PostMessageA(GetDlgItem(programs, IDC_ADD_PROGRAM), BM_CLICK, 0, 0));
        ASSERT_TRUE(e2e::ChooseInFileDialog(m_kestrel->Id(), m_window, path)) << path;
        ASSERT_TRUE(WaitUntil([&] {
            std::vector<std::string> stored;
            return m_db.LoadApps(stored) &&
                   std::find(stored.begin(), stored.end(), path) != stored.end();
        })) << e2e::Utf8FromAnsi(path);
    }
    ASSERT_TRUE(e2e::ClickTab(m_tab, 3));
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(m_page) != FALSE; }));

    // Each name stored at close and shown again at the next start; the
    // last one also makes the test fail, without a connection.
    for (const std::string& user : users) {
        const std::string shown = e2e::Utf8FromAnsi(user.substr(0, 40));
        SetServer(127, 0, 0, 1, std::to_string(server.Port()), false, user, "p'%;--");
        ASSERT_TRUE(CloseAndWait()) << shown;
        std::string ip, name, password;
        int port = 0, type = 0;
        ASSERT_TRUE(m_db.LoadServer(ip, port, name, password, type));
        EXPECT_EQ(name, user) << shown;
        EXPECT_EQ(password, "p'%;--");
        Open();
        EXPECT_EQ(e2e::WindowText(Item(IDC_USER_NAME)), user) << shown;
    }
    MessageBoxSeen seen;
    DWORD slowestAnswerMs = 0;
    EXPECT_GE(TestUntilBox(seen, slowestAnswerMs), 0);
    EXPECT_EQ(seen.text, "验证未能通过");
    EXPECT_EQ(server.Accepted(), 0);

    std::vector<std::string> stored;
    ASSERT_TRUE(m_db.LoadApps(stored));
    EXPECT_EQ(stored, paths);
    std::vector<std::string> labels = Labels();
    std::vector<std::string> expected = names;
    std::sort(labels.begin(), labels.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(labels, expected);
    SaveShot(m_window, "hostile-input");
}

}  // namespace
