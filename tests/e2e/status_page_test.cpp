// tests/e2e/status_page_test.cpp
// The status page of the running program: the switch read from and written to
// client.db with the change counter behind each write, and the web site link.
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/resource.h"
#include "common/config_notify.h"
#include "tests/e2e/kestrel_case.h"
#include "tests/e2e/url_recorder.h"
#include "tests/e2e/window_driver.h"

namespace {

using e2e::WaitUntil;

// The change counter as the proxying component reads it; 0 when missing.
DWORD ReadCounter()
{
    DWORD counter = 0;
    DWORD size = sizeof counter;
    RegGetValueA(HKEY_LOCAL_MACHINE, kChangeCounterKey, kChangeCounterValue, RRF_RT_REG_DWORD,
                 nullptr, &counter, &size);
    return counter;
}

HCURSOR CurrentCursor()
{
    CURSORINFO info = {};
    info.cbSize = sizeof info;
    return GetCursorInfo(&info) ? info.hCursor : nullptr;
}

// A click as another program makes it: the button takes the focus, as from
// the mouse. Real mouse clicks on the radio buttons are not used: under Wine
// a run now and then loses every one of them.
std::function<bool()> PostedClick(HWND button)
{
    return [button] { return PostMessageA(button, BM_CLICK, 0, 0) != FALSE; };
}

class StatusPageTest : public KestrelCase {
protected:
    void StartProgram(const std::string& folder)
    {
        m_db = folder + "\\client.db";
        m_kestrel = &Start(folder);
        m_window = WaitForMainWindow(*m_kestrel);
        ASSERT_NE(m_window, nullptr);
        m_page = GetDlgItem(GetDlgItem(m_window, IDC_PAGE_TAB), IDD_STATUS_PAGE);
        ASSERT_NE(m_page, nullptr);
        ASSERT_TRUE(e2e::PostCommand(m_window, ID_VIEW_STATUS));
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(m_page) != FALSE; }));
        ASSERT_TRUE(e2e::BringToFront(m_window));
    }

    HWND Item(int id) const { return GetDlgItem(m_page, id); }
    bool Checked(int id) const { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

    // "Enable" holds expected as soon as the counter moves after the click,
    // and the counter moves by exactly one.
    ::testing::AssertionResult ClickWrites(const std::function<bool()>& click,
                                           const std::string& expected)
    {
        const DWORD before = ReadCounter();
        if (!click())
            return ::testing::AssertionFailure() << "click not delivered";
        const ULONGLONG deadline = GetTickCount64() + e2e::kPatienceMs;
        while (ReadCounter() == before && GetTickCount64() < deadline) {
        }
        std::vector<std::string> stored;
        QueryDatabase(m_db, "SELECT SVALUE FROM Setting WHERE SKEY = 'Enable'", stored);
        // Once the page answers again the click has been handled in full.
        e2e::SendMessageWaiting(m_page, WM_NULL, 0, 0);
        const DWORD after = ReadCounter();
        if (stored != std::vector<std::string>{expected} || after != before + 1)
            return ::testing::AssertionFailure()
                   << "Enable " << (stored.empty() ? "missing" : "\"" + stored[0] + "\"")
                   << " when the counter moved, counter " << before << " -> " << after;
        return ::testing::AssertionSuccess();
    }

    std::string m_db;
    e2e::Process* m_kestrel = nullptr;
    HWND m_window = nullptr;
    HWND m_page = nullptr;
};

TEST_F(StatusPageTest, OnlyTheExactTextOneShowsOn)
{
    const struct {
        const char* sql;  // what the table holds besides its creation
        bool on;
    } cases[] = {{"SELECT 1 WHERE 0", false},
                 {"INSERT INTO Setting VALUES ('Enable', '')", false},
                 {"INSERT INTO Setting VALUES ('Enable', '0')", false},
                 {"INSERT INTO Setting VALUES ('Enable', '01')", false},
                 {"INSERT INTO Setting VALUES ('Enable', '1 ')", false},
                 {"INSERT INTO Setting VALUES ('Enable', '1')", true}};
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        const std::string folder = MakeProgramFolder(std::to_string(index++));
        std::vector<std::string> none;
        ASSERT_TRUE(QueryDatabase(folder + "\\client.db",
                                  "CREATE TABLE Setting (SKEY TEXT(20) UNIQUE, SVALUE TEXT(100))",
                                  none, true));
        ASSERT_TRUE(QueryDatabase(folder + "\\client.db", c.sql, none, true));
        StartProgram(folder);
        if (HasFatalFailure())
            return;
        EXPECT_EQ(Checked(IDC_ENABLE_ON), c.on);
        EXPECT_EQ(Checked(IDC_ENABLE_OFF), !c.on);
        ASSERT_TRUE(e2e::SendMessageWaiting(m_window, WM_CLOSE, 0, 0));
        ASSERT_TRUE(m_kestrel->WaitForExit(e2e::kPatienceMs));
    }
}

TEST_F(StatusPageTest, EveryClickWritesThenCountsOnceAndEscapeClosesNothing)
{
    StartProgram(MakeProgramFolder("program"));
    if (HasFatalFailure())
        return;
    EXPECT_TRUE(Checked(IDC_ENABLE_OFF)) << "a new database has no Enable row";
    EXPECT_TRUE(ClickWrites(PostedClick(Item(IDC_ENABLE_OFF)), "0")) << "Off, checked, no row";
    EXPECT_TRUE(ClickWrites(PostedClick(Item(IDC_ENABLE_ON)), "1")) << "On";
    EXPECT_TRUE(ClickWrites(PostedClick(Item(IDC_ENABLE_ON)), "1")) << "On again";
    // The focus is on On; keys are handled in order.
    EXPECT_TRUE(ClickWrites(
        [] { return e2e::PressKeys({}, VK_ESCAPE) && e2e::PressKeys({}, VK_SPACE); }, "1"))
        << "Space after Escape";
    EXPECT_TRUE(m_kestrel->Running());
    EXPECT_TRUE(IsWindowVisible(m_page));
}

TEST_F(StatusPageTest, LinkIsBlueAndUnderlinedHasItsCursorAndOpensTheWebSite)
{
    e2e::UrlRecorder recorder("status-page-urls.log");
    ASSERT_TRUE(recorder.Ready());
    const std::string folder = MakeProgramFolder("program");
    StartProgram(folder);
    if (HasFatalFailure())
        return;
    const HWND link = Item(IDC_WEB_LINK);
    SaveShot(m_page, "status-page");

    // In the link colour, with one row of it (the underline) across most of
    // the label: a row of the text alone is mostly gaps.
    RECT area = {};
    GetWindowRect(link, &area);
    std::unique_ptr<HDC__, void (*)(HDC)> screen(GetDC(nullptr),
                                                 [](HDC dc) { ReleaseDC(nullptr, dc); });
    int widest = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        int row = 0;
        for (int x = area.left; x < area.right; ++x)
            row += GetPixel(screen.get(), x, y) == RGB(50, 50, 255) ? 1 : 0;
        widest = std::max(widest, row);
    }
    EXPECT_GE(widest * 2, area.right - area.left) << "no underline in the link colour";

    // The cursor over a button, taken once a key after the move has been
    // handled; the link's own differs from it, and only over the link.
    const HWND off = Item(IDC_ENABLE_OFF);
    ASSERT_TRUE(ClickWrites(PostedClick(off), "0"));
    ASSERT_TRUE(e2e::MoveMouseTo(e2e::CentreOf(off)));
    ASSERT_TRUE(ClickWrites([] { return e2e::PressKeys({}, VK_SPACE); }, "0"));
    const HCURSOR overButton = CurrentCursor();
    ASSERT_TRUE(e2e::MoveMouseTo(e2e::CentreOf(link)));
    EXPECT_TRUE(WaitUntil([&] { return CurrentCursor() != overButton; }));
    ASSERT_TRUE(e2e::MoveMouseTo(e2e::CentreOf(off)));
    EXPECT_TRUE(WaitUntil([&] { return CurrentCursor() == overButton; }));

    // A click hands string 107 to the URL handler, which may add a final '/'.
    std::unique_ptr<HINSTANCE__, decltype(&FreeLibrary)> file(
        LoadLibraryExA((folder + "\\Kestrel.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE),
        &FreeLibrary);
    char site[256] = {};
    ASSERT_GT(LoadStringA(file.get(), IDS_WEB_SITE, site, sizeof site), 0);
    ASSERT_TRUE(e2e::ClickAtScreen(e2e::CentreOf(link)));
    ASSERT_TRUE(WaitUntil([&] { return !recorder.Urls().empty(); }));
    const std::vector<std::string> opened = recorder.Urls();
    EXPECT_TRUE(opened == std::vector<std::string>{site} ||
                opened == std::vector<std::string>{std::string(site) + "/"})
        << opened.front();
}

}  // namespace
