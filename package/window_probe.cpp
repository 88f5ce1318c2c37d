// package/window_probe.cpp
// Used by scripts/package on the unpacked archive, not shipped: waits until the
// configuration program's main window and the tray program's hidden window
// exist, as each program finds the other, and the agent's instance mutex, as
// the configuration program finds the agent. Exit code 0 when all three
// appeared within the seconds given on the command line (default 60), 1
// otherwise; it says which one is missing. With "ended" after the seconds it
// waits instead until none of the three is left, and says which one stayed;
// with "logon", for the two that start at logon: the tray program and the
// agent, without the main window.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/agent_instance.h"
#include "common/instance_names.h"

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const bool awaitEnd = argc > 2 && std::strcmp(argv[2], "ended") == 0;
    const bool logon = argc > 2 && std::strcmp(argv[2], "logon") == 0;
    const DWORD start = GetTickCount();
    bool mainWindow = false;
    bool trayWindow = false;
    bool agent = false;
    while (true) {
        mainWindow = FindWindowA(kMainWindowClass, nullptr) != nullptr;
        trayWindow = FindWindowA(nullptr, kTrayWindowTitle) != nullptr;
        agent = AgentRuns();
        const bool done = awaitEnd ? !mainWindow && !trayWindow && !agent
                                   : (mainWindow || logon) && trayWindow && agent;
        if (done)
            return 0;
        if (GetTickCount() - start >= DWORD(seconds) * 1000)
            break;
        Sleep(100);
    }
    const char* form = awaitEnd ? "%s still there\n" : "no %s\n";
    if (mainWindow == awaitEnd && !logon)
        std::printf(form, "main window");
    if (trayWindow == awaitEnd)
        std::printf(form, "tray window");
    if (agent == awaitEnd)
        std::printf(form, "agent");
    return 1;
}
