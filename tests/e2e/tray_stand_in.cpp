// tests/e2e/tray_stand_in.cpp
// Takes the tray program's place (as KestrelTray.exe) beside the configuration
// program in the end-to-end tests: each start appends one line, "full path of
// this file|command line", to tray-starts.log in its own folder, then ends.
// It keeps no single instance of its own, so every start the configuration
// program makes leaves a line, and the job that each test start runs in counts
// it, even after it has ended.
#include "tests/e2e/start_log.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return LogThisStart("tray-starts.log") ? 0 : 1;
}
