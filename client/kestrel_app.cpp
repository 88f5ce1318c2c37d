// client/kestrel_app.cpp
#include "client/kestrel_app.h"

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include "client/kestrel_dlg.h"
#include "common/agent_instance.h"
#include "common/command_line.h"
#include "common/instance_names.h"
#include "common/module_dir.h"
#include "common/start_program.h"
#include "store/config_db.h"

bool RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSA dialogClass = {};
    if (!GetClassInfoA(instance, "#32770", &dialogClass))
        return false;
    dialogClass.lpszClassName = kMainWindowClass;
    // Registered as ours, so that our dialog template finds it.
    dialogClass.hInstance = instance;
    return RegisterClassA(&dialogClass) != 0;
}

void StartTrayProgram()
{
    StartModuleProgram(kTrayProgramFile);
}

void StartAgentProgram()
{
    // Another start would only end at once.
    if (!AgentRuns())
        StartModuleBackgroundProgram(kAgentProgramFile);
}

bool CKestrelApp::InitInstance()
{
    InitCommonControls();
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    EnableControlContainer();

    WSADATA winsock;
    if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0)
        return false;
    m_socketsStarted = true;

    if (HasExitRequest(GetCommandLineA())) {
        // Returns once the running instance has handled it.
        if (HWND running = FindWindowA(kMainWindowClass, nullptr))
            SendMessageA(running, WM_CLOSE, 0, 0);
        return false;
    }

    RegisterMainWindowClass(Instance());
    InitModuleDir(Instance());

    if (HWND running = FindWindowA(kMainWindowClass, nullptr)) {
        ShowWindow(running, SW_SHOW);
        SetForegroundWindow(running);
        SetActiveWindow(running);
        return false;
    }

    {
        CConfigDb db;
        db.SetDbPath(GetClientDbPath());
        db.InitDatabase();
    }
    StartTrayProgram();
    StartAgentProgram();

    CKestrelDlg mainWindow;
    SetMainWnd(&mainWindow);
    m_exitCode = static_cast<int>(mainWindow.DoModal());
    SetMainWnd(nullptr);
    // The main window was the program: no message loop follows.
    return false;
}

int CKestrelApp::ExitInstance()
{
    if (m_socketsStarted)
        WSACleanup();
    m_socketsStarted = false;
    CWinApp::ExitInstance();
    return m_exitCode;
}
