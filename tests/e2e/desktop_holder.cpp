// tests/e2e/desktop_holder.cpp
// Keeps Wine's desktop process (explorer.exe) up on the test display for a
// whole test run. Wine starts it for the first process that needs the desktop
// and ends it about a second after the last such process has gone; a desktop
// started by a test would inherit that test's output and keep ctest waiting.
//   desktop_holder        prints "holding" and waits to be stopped, or prints
//                         "reusing" and ends when another holder waits, or
//                         "no display" (exit code 3) when the desktop has none
//   desktop_holder stop   releases the waiting holder
#include <windows.h>

#include <cstring>

#include "framework/handles.h"

namespace {

const char kStopEventName[] = "Kestrel test desktop holder";
// A holder nobody stops (an interrupted run) still ends.
const DWORD kLongestHoldMs = 2 * 60 * 60 * 1000;

// To scripts/xvfb, which starts us with our output in a file.
void Say(const char* line)
{
    DWORD written = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    WriteFile(out, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    WriteFile(out, "\n", 1, &written, nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    UniqueKernelHandle waiting(OpenEventA(EVENT_MODIFY_STATE, FALSE, kStopEventName));
    if (std::strcmp(commandLine, "stop") == 0) {
        if (waiting)
            SetEvent(waiting.Get());
        return 0;
    }
    if (waiting) {
        Say("reusing");
        return 0;
    }

    // Starts the desktop process with our DISPLAY. A desktop that some other
    // program started without one leaves every process without a display
    // driver: no window can be created then.
    GetDesktopWindow();
    HWND probe =
        CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (probe == nullptr) {
        Say("no display");
        return 3;
    }
    DestroyWindow(probe);

    UniqueKernelHandle event(CreateEventA(nullptr, TRUE, FALSE, kStopEventName));
    if (!event)
        return 2;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        Say("reusing");
        return 0;
    }
    Say("holding");
    WaitForSingleObject(event.Get(), kLongestHoldMs);
    return 0;
}
