// client/kestrel_app.h
#pragma once

#include "framework/app.h"

// The configuration program. A start either passes an exit request to the
// running instance, brings the running instance forward, or becomes the
// running instance: prepares client.db, starts the tray program and the
// resident agent (when none runs) and runs the main window. The exit code is
// the main window's result (IDOK after Exit, IDCANCEL after closing), 0 when no
// window was run.
class CKestrelApp : public CWinApp {
protected:
    bool InitInstance() override;
    int ExitInstance() override;

private:
    bool m_socketsStarted = false;
    int m_exitCode = 0;
};

// Registers the main window's class, a copy of the system dialog class under
// the name by which other processes find the running program.
bool RegisterMainWindowClass(HINSTANCE instance);
// Starts KestrelTray.exe from the program directory. The tray program keeps
// itself to one instance, so starting it again does no harm.
void StartTrayProgram();
// Starts KestrelAgent.exe from the program directory unless an agent already
// runs in this session.
void StartAgentProgram();
