// package/window_probe.cpp
// Used by scripts/package on the unpacked archive, not shipped: waits until the
// configuration program's main window and the tray program's hidden window
// exist, as each program finds the other. Exit code 0 when both appeared within
// the seconds given on the command line (default 60), 1 otherwise; it says
// which one is missing.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "common/instance_names.h"

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const DWORD start = GetTickCount();
    bool mainWindow = false;
    bool trayWindow = false;
    while (true) {
        mainWindow = FindWindowA(kMainWindowClass, nullptr) != nullptr;
        trayWindow = FindWindowA(nullptr, kTrayWindowTitle) != nullptr;
        if ((mainWindow && trayWindow) || GetTickCount() - start >= DWORD(seconds) * 1000)
            break;
        Sleep(100);
    }
    if (!mainWindow)
        std::printf("no main window\n");
    if (!trayWindow)
        std::printf("no tray window\n");
    return mainWindow && trayWindow ? 0 : 1;
}
