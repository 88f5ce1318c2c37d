// tests/e2e/main_window_test.cpp
// The running configuration program's main window, read and driven from
// outside: texts, menu, tab pages, the ways it closes, the About box.
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "client/resource.h"
#include "tests/e2e/kestrel_case.h"
#include "tests/e2e/text.h"
#include "tests/e2e/window_driver.h"

namespace {

using e2e::WaitUntil;

const DWORD kQuickEndMs = 5000;

// The page each tab shows, in tab order; each page's window id is its
// template id.
const int kTabPages[] = {IDD_HOME_PAGE, IDD_STATUS_PAGE, IDD_PROGRAM_LIST_PAGE, IDD_SERVER_PAGE};

// "Top menu/command id item text" for each item of the menu bar, UTF-8.
std::vector<std::string> DescribeMenu(HMENU bar)
{
    std::vector<std::string> items;
    char text[256];
    for (int top = 0; top < GetMenuItemCount(bar); ++top) {
        GetMenuStringA(bar, static_cast<UINT>(top), text, sizeof(text), MF_BYPOSITION);
        const std::string title = e2e::Utf8FromAnsi(text);
        HMENU popup = GetSubMenu(bar, top);
        for (int i = 0; i < GetMenuItemCount(popup); ++i) {
            const UINT id = GetMenuItemID(popup, i);
            if (GetMenuStringA(popup, static_cast<UINT>(i), text, sizeof(text), MF_BYPOSITION) > 0)
                items.push_back(title + "/" + std::to_string(id) + " " + e2e::Utf8FromAnsi(text));
        }
    }
    return items;
}

class MainWindowTest : public KestrelCase {
protected:
    void SetUp() override
    {
        KestrelCase::SetUp();
        if (HasFatalFailure())
            return;
        m_folder = MakeProgramFolder("program");
        StartInstance();
    }

    void StartInstance()
    {
        m_kestrel = &Start(m_folder);
        m_window = WaitForMainWindow(*m_kestrel);
        ASSERT_NE(m_window, nullptr);
        m_tab = GetDlgItem(m_window, IDC_PAGE_TAB);
        ASSERT_NE(m_tab, nullptr);
    }

    // Ids of the visible pages, in tab order.
    std::vector<int> VisiblePages() const
    {
        std::vector<int> visible;
        for (int page : kTabPages) {
            HWND window = GetDlgItem(m_tab, page);
            if (window != nullptr && IsWindowVisible(window))
                visible.push_back(page);
        }
        return visible;
    }

    // True once the page is the only one shown; reports what was shown else.
    ::testing::AssertionResult OnlyPageShown(int page) const
    {
        if (WaitUntil([&] { return VisiblePages() == std::vector<int>{page}; }))
            return ::testing::AssertionSuccess();
        auto failure = ::testing::AssertionFailure() << "page " << page << " not alone; shown:";
        for (int shown : VisiblePages())
            failure << " " << shown;
        return failure;
    }

    ::testing::AssertionResult EndsWith(DWORD exitCode)
    {
        if (!m_kestrel->WaitForExit(kQuickEndMs))
            return ::testing::AssertionFailure() << "still running";
        if (m_kestrel->ExitCode() != exitCode)
            return ::testing::AssertionFailure() << "exit code " << m_kestrel->ExitCode();
        return ::testing::AssertionSuccess();
    }

    std::string m_folder;
    e2e::Process* m_kestrel = nullptr;
    HWND m_window = nullptr;
    HWND m_tab = nullptr;
};

TEST_F(MainWindowTest, ShowsTheProductsCaptionTabsAndMenu)
{
    SaveShot(m_window, "main-window");
    EXPECT_EQ(e2e::Utf8FromAnsi(e2e::WindowText(m_window)), "Corvane代理软件 客户端 Beta V0.1");

    std::vector<std::string> labels;
    for (int i = 0; i < e2e::TabCount(m_tab); ++i) {
        std::string label;
        EXPECT_TRUE(e2e::TabItemText(m_tab, i, label)) << i;
        labels.push_back(e2e::Utf8FromAnsi(label));
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"主页", "状态", "程序", "服务器"}));

    // Wine keeps a menu's items in the owning process: the window shows that
    // it has a menu bar, the program file what the bar holds.
    EXPECT_NE(GetMenu(m_window), nullptr);
    std::unique_ptr<HINSTANCE__, decltype(&FreeLibrary)> file(
        LoadLibraryExA((m_folder + "\\Kestrel.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE),
        &FreeLibrary);
    ASSERT_TRUE(file);
    std::unique_ptr<HMENU__, decltype(&DestroyMenu)> bar(
        LoadMenuA(file.get(), MAKEINTRESOURCEA(IDR_MAINMENU)), &DestroyMenu);
    ASSERT_TRUE(bar);
    EXPECT_EQ(DescribeMenu(bar.get()), (std::vector<std::string>{
                                           "(&C)操作/32774 (&X) 退出",
                                           "(&V)视图/110 (&H) 主页",
                                           "(&V)视图/102 (&S) 状态",
                                           "(&V)视图/103 (&P) 程序",
                                           "(&V)视图/104 (&E) 服务器",
                                           "(&H)帮助/32772 (D) 在线帮助",
                                           "(&H)帮助/16 (&A) 关于",
                                       }));
}

TEST_F(MainWindowTest, HomeFirstThenViewCommandsAndTabClicksSwitchPages)
{
    EXPECT_EQ(e2e::TabSelection(m_tab), 0);
    EXPECT_TRUE(OnlyPageShown(IDD_HOME_PAGE));

    // The View commands show a page and leave the highlighted tab alone.
    const struct {
        WORD command;
        int page;
    } views[] = {{ID_VIEW_STATUS, IDD_STATUS_PAGE},
                 {ID_VIEW_PROGRAMS, IDD_PROGRAM_LIST_PAGE},
                 {ID_VIEW_SERVER, IDD_SERVER_PAGE},
                 {ID_VIEW_HOME, IDD_HOME_PAGE},
                 {ID_VIEW_STATUS, IDD_STATUS_PAGE}};
    for (const auto& view : views) {
        ASSERT_TRUE(e2e::PostCommand(m_window, view.command));
        EXPECT_TRUE(OnlyPageShown(view.page)) << "View command " << view.command;
        EXPECT_EQ(e2e::TabSelection(m_tab), 0);
    }

    // A click on the already highlighted tab shows its page again. Files may
    // be dropped on the tab control while the program list shows.
    for (int index : {0, 2, 3, 1, 0}) {
        ASSERT_TRUE(e2e::ClickTab(m_tab, index));
        EXPECT_TRUE(OnlyPageShown(kTabPages[index])) << "tab " << index;
        EXPECT_EQ(e2e::TabSelection(m_tab), index);
        const bool acceptsFiles = (GetWindowLongA(m_tab, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0;
        EXPECT_EQ(acceptsFiles, index == 2) << "tab " << index;
    }
}

TEST_F(MainWindowTest, EscapeKeepsTheWindowAltF4ClosesIt)
{
    RECT item;
    ASSERT_TRUE(e2e::TabItemRect(m_tab, 2, item));
    POINT programsTab = {(item.left + item.right) / 2, (item.top + item.bottom) / 2};
    ClientToScreen(m_tab, &programsTab);

    ASSERT_TRUE(e2e::BringToFront(m_window));
    ASSERT_TRUE(e2e::PressKeys({}, VK_ESCAPE));
    // Input is handled in order: once a click made after the key has switched
    // the page, the key has been handled too.
    ASSERT_TRUE(e2e::ClickAtScreen(programsTab));
    EXPECT_TRUE(OnlyPageShown(IDD_PROGRAM_LIST_PAGE));
    ASSERT_TRUE(m_kestrel->Running()) << "Escape closed the window";
    EXPECT_TRUE(IsWindowVisible(m_window));

    ASSERT_TRUE(e2e::PressKeys({VK_MENU}, VK_F4));
    EXPECT_TRUE(EndsWith(IDCANCEL));
}

TEST_F(MainWindowTest, CloseBoxAndCloseFromAnotherProgramEndWithCancel)
{
    ASSERT_TRUE(PostMessageA(m_window, WM_SYSCOMMAND, SC_CLOSE, 0));
    EXPECT_TRUE(EndsWith(IDCANCEL)) << "close box";

    StartInstance();
    ASSERT_TRUE(e2e::SendMessageWaiting(m_window, WM_CLOSE, 0, 0));
    EXPECT_TRUE(EndsWith(IDCANCEL)) << "WM_CLOSE";
}

TEST_F(MainWindowTest, ExitCommandEndsWithOk)
{
    ASSERT_TRUE(e2e::PostCommand(m_window, ID_APP_EXIT));
    EXPECT_TRUE(EndsWith(IDOK));
}

TEST_F(MainWindowTest, AboutBoxIsModalAndItsOkButtonReturnsToTheWindow)
{
    const std::string caption = e2e::WindowText(m_window);
    ASSERT_TRUE(e2e::PostCommand(m_window, IDM_ABOUTBOX));
    HWND about = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        about = e2e::FindTopLevel(m_kestrel->Id(), [&](HWND window) {
            return GetWindow(window, GW_OWNER) == m_window && IsWindowVisible(window);
        });
        return about != nullptr;
    }));
    SaveShot(about, "about-box");
    EXPECT_EQ(e2e::Utf8FromAnsi(e2e::WindowText(about)), "关于 Corvane代理客户端");
    EXPECT_FALSE(IsWindowEnabled(m_window));

    ASSERT_TRUE(e2e::ClickButton(GetDlgItem(about, IDOK)));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(about); }));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(m_window) != FALSE; }));
    EXPECT_TRUE(m_kestrel->Running());
    EXPECT_EQ(e2e::WindowText(m_window), caption);
    EXPECT_TRUE(OnlyPageShown(IDD_HOME_PAGE));
}

}  // namespace
