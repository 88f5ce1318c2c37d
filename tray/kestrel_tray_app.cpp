// tray/kestrel_tray_app.cpp
#include "tray/kestrel_tray_app.h"

#include "common/command_line.h"
#include "common/instance_names.h"
#include "common/module_dir.h"

bool CKestrelTrayApp::InitInstance()
{
    m_hInstanceEvent.Reset();
    if (HasExitRequest(GetCommandLineA())) {
        // Returns once the running tray program has handled it.
        if (HWND running = FindWindowA(nullptr, kTrayWindowTitle))
            SendMessageA(running, WM_CLOSE, 0, 0);
        return false;
    }

    InitModuleDir(Instance());

    // Auto-reset and signalled, though nobody waits on it: only its name matters.
    m_hInstanceEvent.Reset(CreateEventA(nullptr, FALSE, TRUE, kTrayInstanceEvent));
    if (!m_hInstanceEvent || GetLastError() == ERROR_ALREADY_EXISTS)
        return false;

    m_frame = std::make_unique<CMainFrame>();
    SetMainWnd(m_frame.get());
    if (!m_frame->Create(nullptr, WS_OVERLAPPEDWINDOW)) {
        SetMainWnd(nullptr);
        return false;
    }
    // Titled only now: other programs find the window by this title, and it
    // is complete once its icon is in place.
    SetWindowTextA(m_frame->GetSafeHwnd(), kTrayWindowTitle);
    m_frame->ShowWindow(SW_HIDE);
    UpdateWindow(m_frame->GetSafeHwnd());
    return true;
}

int CKestrelTrayApp::ExitInstance()
{
    m_frame.reset();
    m_hInstanceEvent.Reset();
    return CWinApp::ExitInstance();
}
