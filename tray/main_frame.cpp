// tray/main_frame.cpp
#include "tray/main_frame.h"

#include <cstring>

#include "common/instance_names.h"
#include "common/module_dir.h"
#include "common/start_program.h"
#include "framework/dialog.h"
#include "store/config_db.h"
#include "tray/resource.h"

// The record's shape that every shell since Windows 2000 takes, with a tip of
// 128 characters; 488 bytes in the program that ships.
constexpr DWORD kNotifyRecordSize = NOTIFYICONDATAA_V2_SIZE;
#ifndef _WIN64
static_assert(kNotifyRecordSize == 488, "the 32-bit record is 488 bytes");
#endif

namespace {
// Which picture the last blink tick showed; the first tick after switching on
// shows the red lamps.
int s_bBlinkPhase = FALSE;

const char kEnableKey[] = "Enable";
}  // namespace

CMainFrame::CMainFrame() : m_taskbarCreated(RegisterWindowMessageA("TaskbarCreated")) {}

bool CMainFrame::NotifyShell(DWORD action, NOTIFYICONDATAA& record)
{
    return Shell_NotifyIconA(action, &record) != FALSE;
}

void CMainFrame::UpdateTrayIcon(DWORD action, const std::string& tip, UINT iconId)
{
    NOTIFYICONDATAA record = {};
    record.cbSize = kNotifyRecordSize;
    record.hWnd = GetSafeHwnd();
    record.uID = TRAY_ICON_ID;
    if (action != NIM_DELETE) {
        // The shell keeps its own copy of the picture: ours goes before the next one comes.
        m_hTrayIcon.Reset();
        m_hTrayIcon.Reset(
            static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(iconId),
                                          IMAGE_ICON, 0, 0, LR_DEFAULTSIZE)));
        record.hIcon = m_hTrayIcon.Get();
        lstrcpynA(record.szTip, tip.c_str(), sizeof record.szTip);
        record.uCallbackMessage = WM_TRAYNOTIFY;
        record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        m_shownTip = tip;
        m_shownIconId = iconId;
    }
    // A notification area that was gone and came back no longer knows the
    // icon: put it in again rather than stay without one.
    if (!NotifyShell(action, record) && action == NIM_MODIFY)
        NotifyShell(NIM_ADD, record);
}

void CMainFrame::ReadEnableState()
{
    CConfigDb db;
    db.SetDbPath(GetClientDbPath());
    std::string value;
    db.GetSetting(kEnableKey, value);
    m_bEnabled = value == "1";
}

LRESULT CMainFrame::OnTrayNotify(WPARAM wParam, LPARAM lParam)
{
    if (wParam != TRAY_ICON_ID)
        return 0;
    switch (static_cast<UINT>(lParam)) {
    case WM_LBUTTONDBLCLK:
        RunKestrel();
        break;
    case WM_RBUTTONUP:
        ShowTrayMenu();
        break;
    default:
        break;
    }
    return 1;
}

void CMainFrame::ShowTrayMenu()
{
    UniqueMenu menu(LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_TRAYMENU)));
    HMENU popup = menu ? GetSubMenu(menu.Get(), 0) : nullptr;
    if (!popup)
        return;
    POINT at = {};
    GetCursorPos(&at);
    // A menu whose owner is not the foreground window stays open when the
    // user clicks elsewhere.
    SetForegroundWindow(GetSafeHwnd());
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, GetSafeHwnd(), nullptr);
    // Lets the next click after the menu reach its target (the shell's known quirk).
    PostMessageA(GetSafeHwnd(), WM_NULL, 0, 0);
}

void CMainFrame::RunKestrel()
{
    StartModuleProgram(kConfigProgramFile);
}

void CMainFrame::OnExitCommand()
{
    const int answer =
        MessageBoxA(GetSafeHwnd(), LoadResourceString(IDS_EXIT_CONFIRM).c_str(),
                    LoadResourceString(IDS_APP_TITLE).c_str(), MB_YESNO | MB_ICONEXCLAMATION);
    // Another program may have closed us while the question was open.
    if (answer != IDNO && GetSafeHwnd())
        CloseTray();
}

void CMainFrame::CloseTray()
{
    if (HWND kestrel = FindWindowA(kMainWindowClass, nullptr)) {
        ::SendMessageA(kestrel, WM_CLOSE, 0, 0);
        // While we waited, a close sent to us may have done the rest already.
        if (!GetSafeHwnd())
            return;
    }
    UpdateTrayIcon(NIM_DELETE, std::string(), 0);
    CFrameWnd::OnClose();
}

int CMainFrame::OnCreate(CREATESTRUCTA* create)
{
    if (CFrameWnd::OnCreate(create) == -1)
        return -1;
    UpdateTrayIcon(NIM_ADD, LoadResourceString(IDS_APP_TITLE), IDI_TRAY_IDLE);
    ReadEnableState();
    SetTimer(GetSafeHwnd(), TIMER_BLINK, kBlinkPeriodMs, nullptr);
    SetTimer(GetSafeHwnd(), TIMER_POLL, kPollPeriodMs, nullptr);
    return 0;
}

void CMainFrame::OnClose()
{
    CloseTray();
}

void CMainFrame::OnDestroy()
{
    KillTimer(GetSafeHwnd(), TIMER_BLINK);
}

bool CMainFrame::OnTimer(UINT_PTR id)
{
    if (id == TIMER_POLL) {
        ReadEnableState();
        return true;
    }
    OnBlink();
    return false;
}

void CMainFrame::OnBlink()
{
    UINT icon = IDI_TRAY_IDLE;
    std::string tip;
    if (m_bEnabled) {
        tip = LoadResourceString(IDS_TIP_ON);
        s_bBlinkPhase = !s_bBlinkPhase;
        icon = s_bBlinkPhase ? IDI_TRAY_BLINK : IDI_TRAY_IDLE;
    } else {
        tip = LoadResourceString(IDS_TIP_OFF);
        s_bBlinkPhase = FALSE;
    }
    UpdateTrayIcon(NIM_MODIFY, tip, icon);
}

bool CMainFrame::OnCommand(int id, int, HWND)
{
    switch (id) {
    case ID_TRAY_SHOW:
        RunKestrel();
        return true;
    case ID_TRAY_EXIT:
        OnExitCommand();
        return true;
    default:
        return false;
    }
}

bool CMainFrame::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    if (msg == WM_TRAYNOTIFY) {
        *result = OnTrayNotify(wParam, lParam);
        return true;
    }
    if (msg == WM_REFRESHSTATE) {
        ReadEnableState();
        *result = 0;
        return true;
    }
    if (m_taskbarCreated != 0 && msg == m_taskbarCreated) {
        if (m_shownIconId != 0)
            UpdateTrayIcon(NIM_ADD, m_shownTip, m_shownIconId);
        *result = 0;
        return true;
    }
    return CFrameWnd::OnMessage(msg, wParam, lParam, result);
}
