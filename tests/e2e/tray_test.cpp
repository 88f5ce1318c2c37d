// tests/e2e/tray_test.cpp
// The real tray program beside the configuration program: one instance, its
// exit request, its icon in the notification area (read as pixels), the
// icon's clicks and menu, and what it holds after a minute of blinking.
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "store/config_db.h"
#include "tests/e2e/kestrel_case.h"
#include "tests/e2e/text.h"
#include "tests/e2e/tray_icon.h"
#include "tests/e2e/window_driver.h"

namespace {

using e2e::IconWindow;
using e2e::Lamps;
using e2e::ShownLamps;
using e2e::WaitUntil;

const DWORD kQuickEndMs = 5000;
const char kTray[] = "KestrelTray.exe";
const UINT kTrayNotify = WM_USER + 3000;
const UINT kRefreshState = WM_USER + 30001;

POINT CentreOf(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

int CountWindows(const char* className)
{
    int count = 0;
    for (HWND w = FindWindowExA(nullptr, nullptr, className, nullptr); w != nullptr;
         w = FindWindowExA(nullptr, w, className, nullptr))
        ++count;
    return count;
}

// What the process holds: GDI and USER objects where the system counts them.
// Wine does not (GetGuiResources answers 0 there); its private memory, which
// a picture leaked per tick grows too, stands in.
struct Holdings {
    DWORD gdi = 0;
    DWORD user = 0;
    SIZE_T privateBytes = 0;
};

Holdings HoldingsOf(DWORD processId)
{
    Holdings held;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr)
        return held;
    held.gdi = GetGuiResources(process, GR_GDIOBJECTS);
    held.user = GetGuiResources(process, GR_USEROBJECTS);
    PROCESS_MEMORY_COUNTERS memory = {};
    if (GetProcessMemoryInfo(process, &memory, sizeof memory))
        held.privateBytes = memory.PagefileUsage;
    CloseHandle(process);
    return held;
}

class TrayTest : public KestrelCase {
protected:
    void SetUp() override
    {
        KestrelCase::SetUp();
        if (HasFatalFailure())
            return;
        m_folder = MakeProgramFolder("kestrel-exit", Tray::Real);
        m_db.SetDbPath(m_folder + "\\client.db");
        ASSERT_TRUE(m_db.InitDatabase());
    }

    // The tray program, started from another current folder than its own.
    e2e::Process& StartTray(const std::string& args = std::string())
    {
        return Start(m_folder, args, m_caseFolder, kTray);
    }

    HWND WaitForTrayWindow(const e2e::Process& tray)
    {
        HWND window = nullptr;
        WaitUntil([&] {
            window = FindWindowA(nullptr, kTrayWindowTitle);
            return window != nullptr && e2e::ProcessOf(window) == tray.Id() && IconWindow();
        });
        return window != nullptr && IconWindow() ? window : nullptr;
    }

    // Writes Enable (a null value removes the row) and, when asked, tells the
    // tray program at once.
    void SetEnable(const char* value, HWND tellTray = nullptr)
    {
        if (value != nullptr) {
            ASSERT_TRUE(m_db.SetSetting("Enable", value));
        } else {
            sqlite3* db = nullptr;
            sqlite3_open(e2e::Utf8FromAnsi(m_folder + "\\client.db").c_str(), &db);
            ASSERT_EQ(sqlite3_exec(db, "DELETE FROM Setting WHERE SKEY = 'Enable'", nullptr,
                                   nullptr, nullptr),
                      SQLITE_OK);
            sqlite3_close(db);
        }
        if (tellTray != nullptr) {
            ASSERT_TRUE(e2e::SendMessageWaiting(tellTray, kRefreshState, 0, 0));
        }
    }

    bool LampsWithin(Lamps expected, DWORD ms)
    {
        return WaitUntil([&] { return ShownLamps() == expected; }, ms);
    }

    // True when the lamps stay as they are for ms.
    bool LampsHold(Lamps expected, DWORD ms)
    {
        return !WaitUntil([&] { return ShownLamps() != expected; }, ms);
    }

    HWND WaitForBox(const e2e::Process& owner)
    {
        HWND box = nullptr;
        WaitUntil([&] {
            box = e2e::FindTopLevel(owner.Id(), [](HWND w) {
                char name[16] = {};
                GetClassNameA(w, name, sizeof name);
                return IsWindowVisible(w) && std::string(name) == "#32770";
            });
            return box != nullptr;
        });
        return box;
    }

    // Opens the icon's menu with the right button and clicks Exit, its last
    // item (menus cannot be read across processes; the keyboard may not reach
    // a menu of a program that is not in the foreground).
    void ChooseExit(const e2e::Process& tray, POINT icon)
    {
        ASSERT_TRUE(e2e::ClickAtScreen(icon, 1, true));
        HWND menu = nullptr;
        ASSERT_TRUE(WaitUntil([&] {
            menu = e2e::FindTopLevel(tray.Id(), [](HWND w) {
                char name[16] = {};
                GetClassNameA(w, name, sizeof name);
                return IsWindowVisible(w) && std::string(name) == "#32768";
            });
            return menu != nullptr;
        })) << "no menu";
        RECT rect = {};
        GetWindowRect(menu, &rect);
        EXPECT_EQ(rect.left, icon.x);
        EXPECT_TRUE(rect.top == icon.y || rect.bottom == icon.y) << rect.top << ".." << rect.bottom;
        const POINT exitItem = {
            rect.left + (rect.right - rect.left) / 2,
            rect.bottom - GetSystemMetrics(SM_CYEDGE) - GetSystemMetrics(SM_CYMENU) / 2};
        ASSERT_TRUE(e2e::ClickAtScreen(exitItem));
    }

    std::string m_folder;
    CConfigDb m_db;
};

TEST_F(TrayTest, OneRunsAtATimeAndAnExitRequestEndsItWithTheConfigurationWindow)
{
    // Nothing runs: the request only ends. The folder's name holds the switch
    // and the capital switch is no request: both start normally below.
    e2e::Process& idle = StartTray("-exit");
    ASSERT_TRUE(idle.WaitForExit(kQuickEndMs));
    EXPECT_EQ(idle.ProcessesStarted(), 1u);
    EXPECT_EQ(FindWindowA(nullptr, kTrayWindowTitle), nullptr);

    e2e::Process& first = StartTray("-EXIT");
    HWND tray = WaitForTrayWindow(first);
    ASSERT_NE(tray, nullptr);
    e2e::Process& second = StartTray();
    ASSERT_TRUE(second.WaitForExit(kQuickEndMs));
    EXPECT_TRUE(first.Running());
    EXPECT_TRUE(IsWindow(tray));
    EXPECT_NE(IconWindow(), nullptr);

    e2e::Process& kestrel = Start(m_folder);
    ASSERT_NE(WaitForMainWindow(kestrel), nullptr);
    e2e::Process& request = StartTray("/quiet--exit");
    ASSERT_TRUE(request.WaitForExit(kQuickEndMs));
    // Handled before the request returned: the window and the icon are gone.
    EXPECT_FALSE(IsWindow(tray));
    EXPECT_EQ(IconWindow(), nullptr);
    EXPECT_TRUE(first.WaitForExit(kQuickEndMs));
    EXPECT_TRUE(kestrel.WaitForExit(kQuickEndMs)) << "the configuration program stayed open";

    // A killed tray program leaves no marker that would stop the next one.
    e2e::Process& killed = StartTray();
    ASSERT_NE(WaitForTrayWindow(killed), nullptr);
    killed.Kill();
    e2e::Process& again = StartTray();
    EXPECT_NE(WaitForTrayWindow(again), nullptr);
}

TEST_F(TrayTest, IconShowsTheSettingAndHoldsNoMoreAfterAMinuteOfBlinking)
{
    SetEnable("1");
    const ULONGLONG start = GetTickCount64();
    e2e::Process& tray = StartTray();
    HWND window = WaitForTrayWindow(tray);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(LampsWithin(Lamps::Red, 2500));

    // Red and yellow by turns, about every 500 ms.
    std::vector<ULONGLONG> changes;
    for (Lamps last = ShownLamps(); changes.size() < 5 && GetTickCount64() - start < 9000;
         Sleep(20)) {
        const Lamps now = ShownLamps();
        if (now != last && (now == Lamps::Red || now == Lamps::Yellow))
            changes.push_back(GetTickCount64());
        last = now;
    }
    ASSERT_EQ(changes.size(), 5u);
    for (size_t i = 1; i < changes.size(); ++i) {
        EXPECT_GT(changes[i] - changes[i - 1], 300u);
        EXPECT_LT(changes[i] - changes[i - 1], 800u);
    }

    while (GetTickCount64() - start < 10000)
        Sleep(100);
    const Holdings early = HoldingsOf(tray.Id());

    // Every other value is off: switched during a red phase, the next tick is
    // yellow and stays so; switched on again, the next tick is red.
    for (const char* off : {"0", "", "1 ", static_cast<const char*>(nullptr)}) {
        const std::string name = off ? "'" + std::string(off) + "'" : "no row";
        ASSERT_TRUE(LampsWithin(Lamps::Red, 1500)) << name;
        SetEnable(off, window);
        EXPECT_TRUE(LampsWithin(Lamps::Yellow, 700)) << name;
        EXPECT_TRUE(LampsHold(Lamps::Yellow, 1200)) << name;
        SetEnable("1", window);
        EXPECT_TRUE(LampsWithin(Lamps::Red, 700)) << name;
    }
    // Without being told, the next poll sees it.
    SetEnable("0");
    EXPECT_TRUE(LampsWithin(Lamps::Yellow, 2500));
    SetEnable("1");
    EXPECT_TRUE(LampsWithin(Lamps::Red, 2500));

    // An icon the notification area lost comes back at the next tick.
    NOTIFYICONDATAA remove = {};
    remove.cbSize = NOTIFYICONDATAA_V2_SIZE;
    remove.hWnd = window;
    remove.uID = 100;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &remove));
    EXPECT_EQ(IconWindow(), nullptr);
    EXPECT_TRUE(WaitUntil([] { return IconWindow() != nullptr; }, 1500));

    while (GetTickCount64() - start < 60000)
        Sleep(200);
    const Holdings late = HoldingsOf(tray.Id());
    if (early.gdi != 0) {
        EXPECT_EQ(late.gdi, early.gdi);
        EXPECT_EQ(late.user, early.user);
    }
    // A picture leaked per tick would add about 450 KB over these 50 s.
    ASSERT_GT(early.privateBytes, 0u);
    EXPECT_LT(late.privateBytes, early.privateBytes + 256 * 1024)
        << early.privateBytes << " -> " << late.privateBytes;
}

TEST_F(TrayTest, IconOpensTheConfigurationProgramAndItsMenuAsksBeforeEnding)
{
    SetEnable("1");
    e2e::Process& tray = StartTray();
    HWND window = WaitForTrayWindow(tray);
    ASSERT_NE(window, nullptr);
    const POINT icon = CentreOf(IconWindow());

    // A single click and a message about another icon do nothing.
    ASSERT_TRUE(e2e::ClickAtScreen(icon));
    ASSERT_TRUE(PostMessageA(window, kTrayNotify, 99, WM_LBUTTONDBLCLK));
    Sleep(1000);
    EXPECT_EQ(tray.ProcessesStarted(), 1u);

    // A double click starts Kestrel.exe from beside the tray program, which
    // starts a tray program that ends at once, and the agent.
    ASSERT_TRUE(e2e::ClickAtScreen(icon, 2));
    HWND main = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        main = FindWindowA(kMainWindowClass, nullptr);
        return main != nullptr && IsWindowVisible(main);
    }));
    EXPECT_TRUE(WaitUntil([&] { return tray.ProcessesStarted() == 4; }));
    // Once more while it runs hidden: it only comes forward.
    ShowWindow(main, SW_HIDE);
    ASSERT_TRUE(e2e::ClickAtScreen(icon, 2));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(main) && GetForegroundWindow() == main; }));
    EXPECT_TRUE(WaitUntil([&] { return tray.ProcessesStarted() == 5; }));
    EXPECT_EQ(CountWindows(kMainWindowClass), 1);

    // Exit answered No changes nothing.
    ChooseExit(tray, icon);
    HWND box = WaitForBox(tray);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(e2e::Utf8FromAnsi(e2e::WindowText(box)), "Corvane代理客户端");
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr && text.empty();
         child = GetWindow(child, GW_HWNDNEXT)) {
        char name[16] = {};
        GetClassNameA(child, name, sizeof name);
        if (lstrcmpiA(name, "Static") == 0 &&
            (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            text = e2e::Utf8FromAnsi(e2e::WindowText(child));
    }
    EXPECT_EQ(text, "退出后代理应用将继续生效，如要关闭代理，请在设置界面设置“关闭”。\n是否退出？");
    EXPECT_EQ(GetDlgItem(box, IDOK), nullptr);
    ASSERT_TRUE(e2e::ClickButton(GetDlgItem(box, IDNO)));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
    Sleep(600);
    EXPECT_TRUE(tray.Running());
    EXPECT_NE(IconWindow(), nullptr);
    EXPECT_TRUE(IsWindow(main));

    // Yes ends both programs and leaves the setting as it was.
    ChooseExit(tray, icon);
    box = WaitForBox(tray);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(PostMessageA(box, WM_COMMAND, IDYES, 0));
    EXPECT_TRUE(tray.WaitForExit(kQuickEndMs));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(main); }));
    EXPECT_EQ(IconWindow(), nullptr);
    std::string enable;
    EXPECT_TRUE(m_db.GetSetting("Enable", enable));
    EXPECT_EQ(enable, "1");
}

}  // namespace
