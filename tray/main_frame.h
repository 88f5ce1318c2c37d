// tray/main_frame.h
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "framework/frame_wnd.h"
#include "framework/gui_handles.h"

// The one notification-area icon of the program, by its id.
constexpr UINT TRAY_ICON_ID = 100;
// The icon's mouse messages: wParam the icon id, lParam the mouse message.
constexpr UINT WM_TRAYNOTIFY = WM_USER + 3000;
// Sent by other programs: read the on/off setting now, not at the next poll.
constexpr UINT WM_REFRESHSTATE = WM_USER + 30001;

constexpr UINT_PTR TIMER_BLINK = 100;
constexpr UINT_PTR TIMER_POLL = 101;
constexpr UINT kBlinkPeriodMs = 500;
constexpr UINT kPollPeriodMs = 2000;

// The tray program's hidden main window. It owns the notification-area icon,
// which shows whether proxying is on (blinking while it is), and answers the
// icon's double click and menu. Closing it closes the configuration program's
// main window too.
class CMainFrame : public CFrameWnd {
public:
    CMainFrame();

    // action is NIM_ADD, NIM_MODIFY or NIM_DELETE; tip and iconId are unused
    // for a delete.
    void UpdateTrayIcon(DWORD action, const std::string& tip, UINT iconId);
    // m_bEnabled from the setting "Enable" in client.db: on exactly for "1".
    void ReadEnableState();
    // 0 for another icon's message, else 1.
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    // Starts Kestrel.exe from the program directory; a running one only comes forward.
    void RunKestrel();
    // Closes the configuration program's main window, removes the icon and
    // destroys this window.
    void CloseTray();

    bool IsEnabled() const { return m_bEnabled != FALSE; }

protected:
    // The one way into the notification area, so that tests can watch it.
    virtual bool NotifyShell(DWORD action, NOTIFYICONDATAA& record);

    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    int OnCreate(CREATESTRUCTA* create) override;
    void OnClose() override;
    void OnDestroy() override;
    bool OnTimer(UINT_PTR id) override;
    bool OnCommand(int id, int code, HWND control) override;

private:
    void OnBlink();
    void ShowTrayMenu();
    void OnExitCommand();

    int m_bEnabled = FALSE;
    UniqueIcon m_hTrayIcon;
    // What the icon last showed, to put it back when the taskbar comes back.
    std::string m_shownTip;
    UINT m_shownIconId = 0;
    // Broadcast when the taskbar is (re)created: every icon has to be added again.
    const UINT m_taskbarCreated;
};
