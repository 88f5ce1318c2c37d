// tests/e2e/agent_stand_in.cpp
// Takes the resident agent's place (as KestrelAgent.exe) beside the
// configuration program in the end-to-end tests, where the real one would end
// at once for want of the proxying component's files. Each start appends one
// line, "full path of this file|command line", to agent-starts.log in its own
// folder. Otherwise it keeps to the agent's outward contract: one per session
// by the instance mutex, no window, no input ever read, and it runs until
// "KestrelAgent.exe -exit" sets the exit event.
#include <windows.h>

#include "common/command_line.h"
#include "common/instance_names.h"
#include "framework/handles.h"
#include "tests/e2e/start_log.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (!LogThisStart("agent-starts.log"))
        return 1;

    if (HasExitRequest(GetCommandLineA())) {
        const UniqueKernelHandle exit(OpenEventA(EVENT_MODIFY_STATE, FALSE, kAgentExitEvent));
        if (exit)
            SetEvent(exit.Get());
        return 0;
    }
    const UniqueKernelHandle instance(CreateMutexA(nullptr, FALSE, kAgentInstanceMutex));
    if (!instance || GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;
    const UniqueKernelHandle exit(CreateEventA(nullptr, TRUE, FALSE, kAgentExitEvent));
    if (!exit)
        return 1;
    WaitForSingleObject(exit.Get(), INFINITE);
    return 0;
}
