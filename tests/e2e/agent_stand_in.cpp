// tests/e2e/agent_stand_in.cpp
// Takes the resident agent's place (as KestrelAgent.exe) beside the
// configuration program in the end-to-end tests, where the real one would end
// at once for want of the proxying component's files. Each start appends one
// line, "full path of this file|command line", to agent-starts.log in its own
// folder. Otherwise it keeps to the agent's outward contract: one per session
// by the instance mutex, no window, no input ever read, and it runs until
// "KestrelAgent.exe -exit" sets the exit event.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "common/command_line.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 1;
    char log[MAX_PATH + 16] = {};
    std::memcpy(log, path, length);
    char* name = std::strrchr(log, '\\');
    std::strcpy(name != nullptr ? name + 1 : log, "agent-starts.log");
    {
        std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(log, "ab"), &std::fclose);
        if (!out)
            return 1;
        std::fprintf(out.get(), "%s|%s\n", path, GetCommandLineA());
    }

    if (HasExitRequest(GetCommandLineA())) {
        HANDLE exit = OpenEventA(EVENT_MODIFY_STATE, FALSE, "Local\\KestrelAgent.Exit");
        if (exit != nullptr) {
            SetEvent(exit);
            CloseHandle(exit);
        }
        return 0;
    }
    HANDLE instance = CreateMutexA(nullptr, FALSE, "Local\\KestrelAgent.Instance");
    if (instance == nullptr || GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;
    HANDLE exit = CreateEventA(nullptr, TRUE, FALSE, "Local\\KestrelAgent.Exit");
    if (exit == nullptr)
        return 1;
    WaitForSingleObject(exit, INFINITE);
    CloseHandle(exit);
    CloseHandle(instance);
    return 0;
}
