// tests/e2e/tray_stand_in.cpp
// Takes the tray program's place (as KestrelTray.exe) beside the configuration
// program in the end-to-end tests: each start appends one line, "full path of
// this file|command line", to tray-starts.log in its own folder, then ends.
// It keeps no single instance of its own, so every start the configuration
// program makes leaves a line, and the job that each test start runs in counts
// it, even after it has ended.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 1;
    char log[MAX_PATH + 16] = {};
    std::memcpy(log, path, length);
    char* name = std::strrchr(log, '\\');
    std::strcpy(name != nullptr ? name + 1 : log, "tray-starts.log");

    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(log, "ab"), &std::fclose);
    if (!out)
        return 1;
    std::fprintf(out.get(), "%s|%s\n", path, GetCommandLineA());
    return 0;
}
