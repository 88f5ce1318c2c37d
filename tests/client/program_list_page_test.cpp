// tests/client/program_list_page_test.cpp
// The program list page in a window of this process, for what cannot be done
// to the running program from outside under Wine: a drop of files (a drop
// from another Windows process never arrives), the two forms of the tool-tip
// text request, and the pictures in the image list (icon handles do not
// cross processes). Template and icon come from the built Kestrel.exe.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/program_list_page.h"
#include "client/resource.h"
#include "common/config_notify.h"
#include "store/config_db.h"
#include "tests/e2e/shortcut_file.h"
#include "tests/e2e/text.h"

namespace {

DWORD ChangeCounter()
{
    DWORD value = 0;
    DWORD size = sizeof value;
    RegGetValueA(HKEY_LOCAL_MACHINE, kChangeCounterKey, kChangeCounterValue, RRF_RT_REG_DWORD,
                 nullptr, &value, &size);
    return value;
}

// A drop as the shell hands it over: the ANSI names one after another.
HGLOBAL MakeDrop(const std::vector<std::string>& files)
{
    std::string names;
    for (const std::string& file : files)
        names += file + '\0';
    names += '\0';
    HGLOBAL drop = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size());
    auto* header = static_cast<DROPFILES*>(GlobalLock(drop));
    header->pFiles = sizeof(DROPFILES);
    std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), names.data(), names.size());
    GlobalUnlock(drop);
    return drop;
}

// The picture image makes in an 8-bit image list, drawn into 32-bit pixels.
std::vector<DWORD> Pixels(HIMAGELIST list, int image)
{
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 32, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    ImageList_Draw(list, image, dc, 0, 0, ILD_NORMAL);
    GdiFlush();
    std::vector<DWORD> pixels(static_cast<DWORD*>(bits), static_cast<DWORD*>(bits) + 32 * 32);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return pixels;
}

class ProgramListPageUnit : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string program = std::getenv("KESTREL_E2E_PROGRAM");
        for (char& c : program)
            c = c == '/' ? '\\' : c;
        m_resources = LoadLibraryExA(("Z:" + program).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_resources, nullptr);
        SetResourceInstance(m_resources);
        CoInitialize(nullptr);

        // A fresh folder per case, short enough for the long-path case; what
        // an earlier run could not remove goes first.
        char temp[MAX_PATH] = {};
        GetTempPathA(sizeof temp, temp);
        static int cases = 0;
        m_folder = std::string(temp) + "kestrel-page-" + std::to_string(++cases);
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::u8path(e2e::Utf8FromAnsi(m_folder)), ignored);
        ASSERT_TRUE(CreateDirectoryA(m_folder.c_str(), nullptr)) << m_folder;
        // client.db is found beside the program, here the current directory.
        ASSERT_TRUE(SetCurrentDirectoryA(m_folder.c_str()));
        m_db.SetDbPath("client.db");
        ASSERT_TRUE(m_db.InitDatabase());

        m_parent = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 500, 400, nullptr,
                                   nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_TRUE(m_page.Create(m_parent));
        m_list = m_page.GetDlgItem(IDC_PROGRAM_LIST);
    }

    void TearDown() override
    {
        DestroyWindow(m_parent);
        CoUninitialize();
        char temp[MAX_PATH] = {};
        GetTempPathA(sizeof temp, temp);
        SetCurrentDirectoryA(temp);
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::u8path(e2e::Utf8FromAnsi(m_folder)), ignored);
        SetResourceInstance(nullptr);
        FreeLibrary(m_resources);
    }

    std::string MakeFile(const std::string& name, const char* copyOf = nullptr)
    {
        const std::string path = m_folder + "\\" + name;
        if (copyOf)
            EXPECT_TRUE(CopyFileA(copyOf, path.c_str(), FALSE)) << copyOf;
        else
            std::ofstream(path) << "not a program";
        return path;
    }

    std::vector<std::string> Labels() const
    {
        std::vector<std::string> labels;
        const int count = static_cast<int>(SendMessageA(m_list, LVM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[MAX_PATH] = {};
            LVITEMA item = {};
            item.pszText = text;
            item.cchTextMax = sizeof text;
            SendMessageA(m_list, LVM_GETITEMTEXTA, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(&item));
            labels.push_back(text);
        }
        return labels;
    }

    std::vector<std::string> Rows()
    {
        std::vector<std::string> rows;
        m_db.LoadApps(rows);
        return rows;
    }

    HMODULE m_resources = nullptr;
    std::string m_folder;
    CConfigDb m_db;
    HWND m_parent = nullptr;
    CProgramListPage m_page;
    HWND m_list = nullptr;
};

TEST_F(ProgramListPageUnit, DropTakesProgramsAndShortcutsToProgramsOnlyWithOneNotification)
{
    const char* notepad = "C:\\windows\\notepad.exe";
    const std::string first = MakeFile("first.exe", notepad);
    const std::string second = MakeFile(e2e::AnsiFromUtf8("第二.EXE"), notepad);
    const std::string linked = MakeFile("linked.exe", notepad);
    const std::string text = MakeFile("notes.txt");
    const std::string folder = m_folder + "\\folder.exe";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string toProgram = m_folder + "\\program.lnk";
    const std::string toText = m_folder + "\\text.lnk";
    ASSERT_TRUE(e2e::MakeShortcut(toProgram, linked));
    ASSERT_TRUE(e2e::MakeShortcut(toText, text));
    const std::string broken = MakeFile("broken.lnk");

    const DWORD before = ChangeCounter();
    HGLOBAL drop =
        MakeDrop({first, text, folder, m_folder + "\\gone.exe", toProgram, toText, broken, second});
    SendMessageA(m_page.GetSafeHwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    EXPECT_EQ(GlobalFlags(drop), static_cast<UINT>(GMEM_INVALID_HANDLE)) << "drop not released";
    EXPECT_EQ(ChangeCounter() - before, 1u);
    EXPECT_EQ(Rows(), (std::vector<std::string>{first, linked, second}));
    EXPECT_EQ(Labels(),
              (std::vector<std::string>{e2e::AnsiFromUtf8("第二.EXE"), "linked.exe", "first.exe"}));

    // Dropped again: already listed, so nothing new, one notification again.
    HGLOBAL again = MakeDrop({first, toProgram});
    SendMessageA(m_page.GetSafeHwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(again), 0);
    EXPECT_EQ(ChangeCounter() - before, 2u);
    EXPECT_EQ(Labels().size(), 3u);
}

TEST_F(ProgramListPageUnit, ShortcutNamesAreCountedInCharacters)
{
    EXPECT_TRUE(CProgramListPage::IsShortcutPath("a.lnk"));
    EXPECT_TRUE(CProgramListPage::IsShortcutPath("C:\\X.LnK"));
    EXPECT_FALSE(CProgramListPage::IsShortcutPath(".lnk"));
    EXPECT_FALSE(CProgramListPage::IsShortcutPath("a.lnk.txt"));
    // Five bytes, but a lead byte takes the dot: four characters, no ".lnk".
    EXPECT_FALSE(CProgramListPage::IsShortcutPath("\xD6.lnk"));
}

TEST_F(ProgramListPageUnit, TipTextsStopBeforeASplitCharacterAndIconsFallBackToTheProgramsOwn)
{
    // The 79th and 80th bytes of the path are one character.
    const std::string folder = m_folder + "\\" + std::string(76 - m_folder.size(), 'd');
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string longPath = folder + "\\" + e2e::AnsiFromUtf8("程序.exe");
    ASSERT_TRUE(CopyFileA("C:\\windows\\notepad.exe", longPath.c_str(), FALSE));
    ASSERT_TRUE(m_page.AddProgram(longPath));
    ASSERT_TRUE(m_page.AddProgram(MakeFile("notes.txt")));
    EXPECT_FALSE(m_page.AddProgram(m_folder + "\\gone.exe"));

    // The request reads where the mouse was when the current message came.
    RECT icon = {LVIR_ICON, 0, 0, 0};
    SendMessageA(m_list, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&icon));
    POINT centre = {(icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2};
    ClientToScreen(m_list, &centre);
    ASSERT_TRUE(SetCursorPos(centre.x, centre.y));
    PostMessageA(m_parent, WM_NULL, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, m_parent, WM_NULL, WM_NULL, PM_REMOVE));
    NMTTDISPINFOA ansi = {};
    ansi.hdr = {nullptr, 0, TTN_NEEDTEXTA};
    SendMessageA(m_list, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&ansi));
    EXPECT_EQ(std::string(ansi.szText), longPath.substr(0, 78));
    NMTTDISPINFOW wide = {};
    wide.hdr = {nullptr, 0, TTN_NEEDTEXTW};
    SendMessageA(m_list, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&wide));
    WCHAR expected[80] = {};
    MultiByteToWideChar(CP_ACP, 0, longPath.c_str(), 78, expected, 80);
    EXPECT_EQ(std::wstring(wide.szText), std::wstring(expected));

    // Images in the order added: the copy of Notepad, then the text file,
    // which has no icon.
    HIMAGELIST reference = ImageList_Create(32, 32, ILC_COLOR8, 2, 0);
    HICON own = static_cast<HICON>(
        LoadImageA(m_resources, MAKEINTRESOURCEA(IDI_KESTREL), IMAGE_ICON, 32, 32, 0));
    HICON notepad = ExtractIconA(GetModuleHandleA(nullptr), "C:\\windows\\notepad.exe", 0);
    ImageList_AddIcon(reference, own);
    ImageList_AddIcon(reference, notepad);
    HIMAGELIST shown =
        reinterpret_cast<HIMAGELIST>(SendMessageA(m_list, LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
    EXPECT_EQ(Pixels(shown, 1), Pixels(reference, 0)) << "not the program's own icon";
    EXPECT_EQ(Pixels(shown, 0), Pixels(reference, 1)) << "not the file's own icon";
    EXPECT_NE(Pixels(reference, 0), Pixels(reference, 1));
    DestroyIcon(own);
    DestroyIcon(notepad);
    ImageList_Destroy(reference);
}

}  // namespace
