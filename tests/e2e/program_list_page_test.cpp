// tests/e2e/program_list_page_test.cpp
// The program list page of the running configuration program, driven as a
// user drives it: Add through the real file dialog, Delete, the scope radios,
// the tool tips over the icons; and what reaches client.db and the change
// counter. Drops are tested in-process (tests/client): under Wine a drop from
// another Windows process never arrives.
#include <windows.h>
#include <commctrl.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/resource.h"
#include "store/config_db.h"
#include "tests/e2e/kestrel_case.h"
#include "tests/e2e/remote_buffer.h"
#include "tests/e2e/shortcut_file.h"
#include "tests/e2e/text.h"
#include "tests/e2e/window_driver.h"

namespace {

using e2e::WaitUntil;

std::string Ansi(const char* utf8)
{
    return e2e::AnsiFromUtf8(utf8);
}

// Through the system's input queue, as a real mouse moves.
bool MoveMouseTo(POINT point)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(point.x, 65536, GetSystemMetrics(SM_CXSCREEN)) + 1;
    input.mi.dy = MulDiv(point.y, 65536, GetSystemMetrics(SM_CYSCREEN)) + 1;
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    return SendInput(1, &input, sizeof input) == 1;
}

class ProgramListPageTest : public KestrelCase {
protected:
    void SetUp() override
    {
        KestrelCase::SetUp();
        if (HasFatalFailure())
            return;
        m_folder = MakeProgramFolder("program");
        m_db.SetDbPath(m_folder + "\\client.db");
        ASSERT_TRUE(m_db.InitDatabase());
    }

    // A file beside the program: a copy of a program, or a little text.
    std::string MakeFile(const std::string& ansiName, bool program)
    {
        const std::string path = m_folder + "\\" + ansiName;
        if (program)
            EXPECT_TRUE(CopyFileA((m_folder + "\\KestrelTray.exe").c_str(), path.c_str(), FALSE));
        else
            std::ofstream(path) << "not a program";
        return path;
    }

    // Starts the program and brings the program list to the front.
    void Open()
    {
        const DWORD beforeStart = ChangeCounter();
        m_kestrel = &Start(m_folder);
        m_window = WaitForMainWindow(*m_kestrel);
        ASSERT_NE(m_window, nullptr);
        m_tab = GetDlgItem(m_window, IDC_PAGE_TAB);
        m_page = GetDlgItem(m_tab, IDD_PROGRAM_LIST_PAGE);
        m_list = GetDlgItem(m_page, IDC_PROGRAM_LIST);
        // Created visible, the page is hidden behind the home page at once,
        // which writes the scope and tells the proxying component.
        EXPECT_EQ(ChangeCounter() - beforeStart, 1u);
        ASSERT_TRUE(e2e::ClickTab(m_tab, 2));
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(m_page) != FALSE; }));
        m_counter = ChangeCounter();
    }

    HWND Item(int id) const { return GetDlgItem(m_page, id); }
    bool Checked(int id) const { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    DWORD CounterMoves() const { return ChangeCounter() - m_counter; }

    std::vector<std::string> Rows()
    {
        std::vector<std::string> rows;
        m_db.LoadApps(rows);
        return rows;
    }
    std::string ApplyArea()
    {
        std::string value = "(none)";
        m_db.GetSetting("ApplyArea", value);
        return value;
    }

    std::vector<std::string> Labels() const { return e2e::ListViewLabels(m_kestrel->Id(), m_list); }

    POINT IconCentre(int index) const
    {
        e2e::RemoteBuffer buffer(m_kestrel->Id(), sizeof(RECT));
        RECT rect = {LVIR_ICON, 0, 0, 0};
        buffer.Write(0, &rect, sizeof rect);
        SendMessageA(m_list, LVM_GETITEMRECT, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(buffer.At(0)));
        buffer.Read(0, &rect, sizeof rect);
        POINT centre = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
        ClientToScreen(m_list, &centre);
        return centre;
    }

    // Rests the mouse on the item's icon until a tip with expected shows.
    // The text expected, or the texts of the tips seen instead.
    std::string TipOver(int index, const std::string& expected) const
    {
        POINT outside = {0, 0};
        MoveMouseTo(outside);
        Sleep(100);
        MoveMouseTo(IconCentre(index));
        std::string seen = "(no tip)";
        WaitUntil([&] {
            for (HWND tip = FindWindowExA(nullptr, nullptr, TOOLTIPS_CLASSA, nullptr); tip;
                 tip = FindWindowExA(nullptr, tip, TOOLTIPS_CLASSA, nullptr)) {
                if (e2e::ProcessOf(tip) == m_kestrel->Id() && IsWindowVisible(tip)) {
                    seen = e2e::WindowText(tip);
                    if (seen == expected)
                        return true;
                }
            }
            return false;
        });
        return seen;
    }

    // Add, then the file dialog: chooses path, or cancels for an empty one.
    void AddWithFileDialog(const std::string& path)
    {
        const DWORD before = ChangeCounter();
        ASSERT_TRUE(PostMessageA(Item(IDC_ADD_PROGRAM), BM_CLICK, 0, 0));
        ASSERT_TRUE(e2e::ChooseInFileDialog(m_kestrel->Id(), m_window, path)) << path;
        // The notification comes last, in every case.
        ASSERT_TRUE(WaitUntil([&] { return ChangeCounter() == before + 1; })) << path;
    }

    std::string m_folder;
    CConfigDb m_db;
    DWORD m_counter = 0;
    e2e::Process* m_kestrel = nullptr;
    HWND m_window = nullptr;
    HWND m_tab = nullptr;
    HWND m_page = nullptr;
    HWND m_list = nullptr;
};

TEST_F(ProgramListPageTest, AddStoresAnyChosenFileOncePerExactPathAndAlwaysNotifies)
{
    const std::string program = MakeFile(Ansi("代理程序.exe"), true);
    const std::string text = MakeFile("notes.txt", false);
    Open();
    AddWithFileDialog(program);
    EXPECT_EQ(Rows(), (std::vector<std::string>{program}));
    EXPECT_EQ(Labels(), (std::vector<std::string>{Ansi("代理程序.exe")}));

    AddWithFileDialog(program);
    EXPECT_EQ(Rows(), (std::vector<std::string>{program}));
    EXPECT_EQ(Labels().size(), 1u);

    // The table compares exactly: another spelling of the same file is another row.
    const std::string upper = program.substr(0, program.size() - 3) + "EXE";
    AddWithFileDialog(upper);
    AddWithFileDialog(text);
    AddWithFileDialog("");
    EXPECT_EQ(Rows(), (std::vector<std::string>{program, upper, text}));
    EXPECT_EQ(Labels(),
              (std::vector<std::string>{"notes.txt", Ansi("代理程序.EXE"), Ansi("代理程序.exe")}));
    SaveShot(m_window, "program-list-page");
}

TEST_F(ProgramListPageTest, ShortcutsChosenWithAddAreStoredAsTheirTargetsOrAsThemselves)
{
    const std::string program = MakeFile("tool.exe", true);
    const std::string text = MakeFile("notes.txt", false);
    const std::string toProgram = m_folder + "\\tool.lnk";
    const std::string toText = m_folder + "\\notes.lnk";
    ASSERT_TRUE(e2e::MakeShortcut(toProgram, program));
    ASSERT_TRUE(e2e::MakeShortcut(toText, text));
    const std::string broken = MakeFile("broken.lnk", false);
    Open();
    AddWithFileDialog(toProgram);
    AddWithFileDialog(toText);
    AddWithFileDialog(broken);
    EXPECT_EQ(Rows(), (std::vector<std::string>{program, text, broken}));
    EXPECT_EQ(Labels(), (std::vector<std::string>{"broken.lnk", "notes.txt", "tool.exe"}));
}

TEST_F(ProgramListPageTest, IconTipsShowEachItemsPathAndDeleteTakesOnlyTheSelectedOne)
{
    // Short paths, and one whose 79th and 80th bytes are one Chinese
    // character: its tip stops before that character.
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    const std::string base =
        std::string(temp) + "kestrel-tips-" + std::to_string(GetCurrentProcessId());
    const std::string folder = base + "\\" + std::string(76 - base.size(), 'd');
    ASSERT_TRUE(CreateDirectoryA(base.c_str(), nullptr)) << base;
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    const std::string longPath = folder + "\\" + Ansi("程序名称很长的一个代理程序.exe");
    const std::string shortPath = base + "\\short.exe";
    for (const std::string& path : {longPath, shortPath})
        ASSERT_TRUE(CopyFileA((m_folder + "\\KestrelTray.exe").c_str(), path.c_str(), FALSE));
    const std::string missing = m_folder + "\\gone.exe";
    for (const std::string& path : {longPath, missing, shortPath})
        ASSERT_TRUE(m_db.AddApp(path));

    Open();
    // Newest first; a row whose file is gone is not shown and stays.
    EXPECT_EQ(Labels(),
              (std::vector<std::string>{"short.exe", Ansi("程序名称很长的一个代理程序.exe")}));
    ASSERT_TRUE(e2e::BringToFront(m_window));
    EXPECT_EQ(TipOver(0, shortPath), shortPath);
    EXPECT_EQ(TipOver(1, longPath.substr(0, 78)), longPath.substr(0, 78));

    ASSERT_TRUE(e2e::ClickAtScreen(IconCentre(1)));
    ASSERT_TRUE(WaitUntil([&] { return SendMessageA(m_list, LVM_GETSELECTEDCOUNT, 0, 0) == 1; }));
    ASSERT_TRUE(e2e::ClickButton(Item(IDC_DELETE_PROGRAM)));
    EXPECT_EQ(Rows(), (std::vector<std::string>{missing, shortPath}));
    EXPECT_EQ(Labels(), (std::vector<std::string>{"short.exe"}));
    EXPECT_EQ(CounterMoves(), 1u);
    EXPECT_EQ(TipOver(0, shortPath), shortPath);

    // Nothing selected: nothing goes, the proxy is told all the same.
    ASSERT_TRUE(e2e::ClickButton(Item(IDC_DELETE_PROGRAM)));
    EXPECT_EQ(Rows(), (std::vector<std::string>{missing, shortPath}));
    EXPECT_EQ(CounterMoves(), 2u);
    DeleteFileA(longPath.c_str());
    DeleteFileA(shortPath.c_str());
    RemoveDirectoryA(folder.c_str());
    RemoveDirectoryA(base.c_str());
}

TEST_F(ProgramListPageTest, AllAtStartDisablesTheListAndTheChoiceIsWrittenWhenThePageGoes)
{
    ASSERT_TRUE(m_db.SetSetting("ApplyArea", "All"));
    Open();
    EXPECT_TRUE(Checked(IDC_APPLY_ALL));
    EXPECT_FALSE(Checked(IDC_APPLY_LIST));
    for (int id : {IDC_PROGRAM_LIST, IDC_ADD_PROGRAM, IDC_DELETE_PROGRAM}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }

    // A click changes the enabling only; leaving the page writes and notifies.
    ASSERT_TRUE(e2e::ClickButton(Item(IDC_APPLY_LIST)));
    for (int id : {IDC_PROGRAM_LIST, IDC_ADD_PROGRAM, IDC_DELETE_PROGRAM}) {
        EXPECT_TRUE(Enabled(id)) << id;
    }
    EXPECT_EQ(ApplyArea(), "All");
    ASSERT_TRUE(e2e::ClickTab(m_tab, 1));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(m_page); }));
    EXPECT_EQ(ApplyArea(), "ProgramList");
    EXPECT_EQ(CounterMoves(), 1u);

    // Closed while shown: written, and the one notification is the server page's.
    ASSERT_TRUE(e2e::ClickTab(m_tab, 2));
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(m_page) != FALSE; }));
    ASSERT_TRUE(e2e::ClickButton(Item(IDC_APPLY_ALL)));
    EXPECT_FALSE(Enabled(IDC_ADD_PROGRAM));
    ASSERT_TRUE(PostMessageA(m_window, WM_SYSCOMMAND, SC_CLOSE, 0));
    ASSERT_TRUE(m_kestrel->WaitForExit(5000));
    EXPECT_EQ(ApplyArea(), "All");
    EXPECT_EQ(CounterMoves(), 2u);
}

TEST_F(ProgramListPageTest, OnlyTheExactTextAllSelectsAllPrograms)
{
    // First with no row at all, then with near misses.
    for (const char* stored : {"", "all", "All "}) {
        if (*stored) {
            ASSERT_TRUE(m_db.SetSetting("ApplyArea", stored));
        }
        Open();
        EXPECT_TRUE(Checked(IDC_APPLY_LIST)) << "'" << stored << "'";
        EXPECT_FALSE(Checked(IDC_APPLY_ALL)) << "'" << stored << "'";
        EXPECT_TRUE(Enabled(IDC_ADD_PROGRAM)) << "'" << stored << "'";
        ASSERT_TRUE(PostMessageA(m_window, WM_SYSCOMMAND, SC_CLOSE, 0));
        ASSERT_TRUE(m_kestrel->WaitForExit(5000));
    }
}

}  // namespace
