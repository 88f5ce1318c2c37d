// tests/tray/main_frame_test.cpp
// What the tray window hands to the notification area: the record's shape,
// the pictures and tips tick by tick as the setting changes, and the icon put
// back when the notification area has lost it.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "store/config_db.h"
#include "tray/main_frame.h"
#include "tray/resource.h"

namespace {

struct Record {
    DWORD action;
    NOTIFYICONDATAA data;
};

std::string Ansi(const wchar_t* text)
{
    char buffer[256] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    return buffer;
}

class RecordingFrame : public CMainFrame {
public:
    std::vector<Record> records;
    int modifiesToRefuse = 0;

protected:
    bool NotifyShell(DWORD action, NOTIFYICONDATAA& record) override
    {
        records.push_back({action, record});
        return !(action == NIM_MODIFY && modifiesToRefuse-- > 0);
    }
};

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // client.db is looked for in the current folder: no directory was set.
        const char* tmp = std::getenv("KESTREL_TEST_TMP");
        ASSERT_TRUE(tmp && SetCurrentDirectoryA(tmp));
        DeleteFileA("client.db");
        m_db.SetDbPath("client.db");
        ASSERT_TRUE(m_db.InitDatabase());
        ASSERT_TRUE(m_frame.Create(nullptr, WS_OVERLAPPEDWINDOW));
    }

    void SetEnable(const std::string& value)
    {
        ASSERT_TRUE(m_db.SetSetting("Enable", value));
        SendMessageA(m_frame.GetSafeHwnd(), WM_REFRESHSTATE, 0, 0);
    }

    // One blink tick; the picture and tip it handed over.
    std::pair<UINT, std::string> Tick()
    {
        const size_t before = m_frame.records.size();
        SendMessageA(m_frame.GetSafeHwnd(), WM_TIMER, TIMER_BLINK, 0);
        if (m_frame.records.size() != before + 1)
            return {0, "no record"};
        const NOTIFYICONDATAA& data = m_frame.records.back().data;
        return {IconId(data.hIcon), data.szTip};
    }

    // Which of the two pictures an icon handle shows, by its pixels.
    static UINT IconId(HICON icon)
    {
        ICONINFO info = {};
        if (!GetIconInfo(icon, &info))
            return 0;
        BITMAP bitmap = {};
        GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
        std::vector<DWORD> pixels(static_cast<size_t>(bitmap.bmWidth) * bitmap.bmHeight);
        BITMAPINFO format = {};
        format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        format.bmiHeader.biWidth = bitmap.bmWidth;
        format.bmiHeader.biHeight = -bitmap.bmHeight;  // top-down
        format.bmiHeader.biPlanes = 1;
        format.bmiHeader.biBitCount = 32;
        HDC screen = GetDC(nullptr);
        GetDIBits(screen, info.hbmColor, 0, bitmap.bmHeight, pixels.data(), &format,
                  DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        int red = 0, yellow = 0;
        for (DWORD p : pixels) {
            const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
            red += r > 0xC0 && g < 0x60 && b < 0x60;
            yellow += r > 0xC0 && g > 0xC0 && b < 0x80;
        }
        return red > 20 && yellow == 0   ? IDI_TRAY_BLINK
               : yellow > 20 && red == 0 ? IDI_TRAY_IDLE
                                         : 1;
    }

    CConfigDb m_db;
    RecordingFrame m_frame;
    const std::string m_title = Ansi(L"Corvane代理客户端");
    const std::string m_on = Ansi(L"Corvane代理客户端：开启");
    const std::string m_off = Ansi(L"Corvane代理客户端：关闭");
};

TEST_F(MainFrameTest, AddsTheIconWithTheTitleAndARecordOfTheShapeEveryShellTakes)
{
    ASSERT_EQ(m_frame.records.size(), 1u);
    const Record& add = m_frame.records[0];
    EXPECT_EQ(add.action, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(add.data.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V2_SIZE));
    EXPECT_EQ(add.data.hWnd, m_frame.GetSafeHwnd());
    EXPECT_EQ(add.data.uID, 100u);
    EXPECT_EQ(add.data.uFlags, 7u);
    EXPECT_EQ(add.data.uCallbackMessage, static_cast<UINT>(WM_USER + 3000));
    EXPECT_EQ(std::string(add.data.szTip), m_title);
    EXPECT_EQ(IconId(add.data.hIcon), static_cast<UINT>(IDI_TRAY_IDLE));
}

TEST_F(MainFrameTest, BlinksRedFirstWhileOnAndRestsYellowOtherwise)
{
    using Shown = std::pair<UINT, std::string>;
    const Shown red{IDI_TRAY_BLINK, m_on}, yellowOn{IDI_TRAY_IDLE, m_on};
    const Shown yellowOff{IDI_TRAY_IDLE, m_off};
    EXPECT_EQ(Tick(), yellowOff);  // no row yet
    SetEnable("1");
    EXPECT_EQ(Tick(), red);
    EXPECT_EQ(Tick(), yellowOn);
    EXPECT_EQ(Tick(), red);
    // Off during a red phase: yellow at once, and the next switch-on starts red.
    for (const char* off : {"0", "", "1 ", "true"}) {
        SetEnable(off);
        EXPECT_EQ(Tick(), yellowOff) << "'" << off << "'";
        EXPECT_EQ(Tick(), yellowOff) << "'" << off << "'";
        SetEnable("1");
        EXPECT_EQ(Tick(), red) << "after '" << off << "'";
    }
    // Every tick's picture is released once the next one is handed over.
    const HICON previous = m_frame.records[m_frame.records.size() - 2].data.hIcon;
    ICONINFO info = {};
    EXPECT_FALSE(GetIconInfo(previous, &info));
}

TEST_F(MainFrameTest, PutsTheIconBackWhenTheNotificationAreaLostIt)
{
    Tick();  // off: the blink phase starts over
    SetEnable("1");
    Tick();
    // A refused change adds the icon anew with what it was to show.
    m_frame.modifiesToRefuse = 1;
    const size_t before = m_frame.records.size();
    Tick();
    ASSERT_EQ(m_frame.records.size(), before + 2);
    const Record& added = m_frame.records.back();
    EXPECT_EQ(added.action, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(IconId(added.data.hIcon), static_cast<UINT>(IDI_TRAY_IDLE));
    EXPECT_EQ(std::string(added.data.szTip), m_on);

    // A new taskbar: the icon comes back as the last tick left it.
    Tick();
    SendMessageA(m_frame.GetSafeHwnd(), RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    const Record& again = m_frame.records.back();
    EXPECT_EQ(again.action, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(again.data.uFlags, 7u);
    EXPECT_EQ(IconId(again.data.hIcon), static_cast<UINT>(IDI_TRAY_BLINK));
    EXPECT_EQ(std::string(again.data.szTip), m_on);
}

}  // namespace
