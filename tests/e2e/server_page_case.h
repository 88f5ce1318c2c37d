// tests/e2e/server_page_case.h
// A case on the server page of the running configuration program: opening
// the page, filling its fields, clicking Test and reading the box that
// answers, closing the main window; and what reaches client.db.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/resource.h"
#include "store/config_db.h"
#include "tests/e2e/kestrel_case.h"
#include "tests/e2e/remote_buffer.h"
#include "tests/e2e/text.h"
#include "tests/e2e/window_driver.h"

namespace e2e {

// The program's whole test time-out is 10 s; a result comes well before this.
const DWORD kResultMs = 20000;

inline int EnvironmentInt(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

inline std::string EnvironmentText(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace e2e

struct MessageBoxSeen {
    std::string caption;  // UTF-8
    std::string text;
    bool informationIcon = false;
    bool exclamationIcon = false;
};

class ServerPageCase : public KestrelCase {
protected:
    void SetUp() override
    {
        KestrelCase::SetUp();
        if (HasFatalFailure())
            return;
        m_folder = MakeProgramFolder("program");
        m_db.SetDbPath(m_folder + "\\client.db");
        m_portBase = e2e::EnvironmentInt("KESTREL_TEST_PORT_BASE", 41080);
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
        ASSERT_TRUE(e2e::WaitUntil([&] { return IsWindowVisible(m_page) != FALSE; }));
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
        e2e::WaitUntil(
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
                // A box just shown may not have painted its icon yet: then
                // neither icon is nearer, and the screen is read again.
                e2e::WaitUntil(
                    [&] {
                        seen.informationIcon =
                            IconLooksLike(child, IDI_INFORMATION, IDI_EXCLAMATION);
                        seen.exclamationIcon =
                            IconLooksLike(child, IDI_EXCLAMATION, IDI_INFORMATION);
                        return seen.informationIcon || seen.exclamationIcon;
                    },
                    2000);
            } else if (seen.text.empty()) {
                seen.text = e2e::Utf8FromAnsi(e2e::WindowText(child));
            }
        }
        seen.caption = e2e::Utf8FromAnsi(e2e::WindowText(box));
        if (!e2e::ClickButton(GetDlgItem(box, IDOK)) && !PostMessageA(box, WM_COMMAND, IDOK, 0))
            return false;
        return e2e::WaitUntil([&] { return !IsWindow(box); });
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
