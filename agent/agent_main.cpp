// agent/agent_main.cpp
// The resident agent: no window, one per session, independent of the tray
// program. It copies the component's files aside, follows "Enable", and puts
// the library into the user's shells once a second until it is asked to end
// ("KestrelAgent.exe -exit"). Ending stops the attaching; the libraries
// already in shells stay loaded but hand nothing on until an agent runs again.
#include <windows.h>

#include <string>

#include "agent/component_copy.h"
#include "agent/enable_watch.h"
#include "agent/shell_attacher.h"
#include "common/command_line.h"
#include "common/instance_names.h"
#include "framework/handles.h"
#include "injection/component_files.h"

namespace {

// New shells are found within this; a scan costs a process list.
constexpr DWORD kScanIntervalMs = 1000;

std::wstring OwnFolder()
{
    std::wstring folder = injection::ComponentPath(nullptr, L"");
    if (!folder.empty())
        folder.pop_back();  // the separator
    return folder;
}

int Run()
{
    // A starter that waits for this program to be ready for input (WinExec,
    // WaitForInputIdle) is released at once: it never reads any.
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    const UniqueKernelHandle instance(CreateMutexA(nullptr, FALSE, kAgentInstanceMutex));
    if (!instance || GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;
    const UniqueKernelHandle exit(CreateEventA(nullptr, TRUE, FALSE, kAgentExitEvent));
    const std::wstring installFolder = OwnFolder();
    if (!exit || installFolder.empty())
        return 1;
    const std::wstring copyFolder = agent::PrepareComponentCopy(installFolder);
    if (copyFolder.empty())
        return 1;
    agent::RemoveStaleCopies(copyFolder);
    agent::EnableWatch enable(installFolder);
    if (!enable.Start())
        return 1;
    agent::ShellAttacher shells(copyFolder, installFolder);
    for (;;) {
        shells.Scan();
        const HANDLE waits[] = {exit.Get(), enable.Changed()};
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, kScanIntervalMs);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED)
            return 0;
        if (woken == WAIT_OBJECT_0 + 1 || enable.RetryDue())
            enable.Reread();
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (HasExitRequest(GetCommandLineA())) {
        const UniqueKernelHandle exit(OpenEventA(EVENT_MODIFY_STATE, FALSE, kAgentExitEvent));
        if (exit)
            SetEvent(exit.Get());
        return 0;
    }
    return Run();
}
