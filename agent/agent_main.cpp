// agent/agent_main.cpp
// The resident agent: no window, one per session, independent of the tray
// program. It copies the component's files aside, follows "Enable", and puts
// the library into the user's shells until it is asked to end
// ("KestrelAgent.exe -exit"). Ending stops the attaching; the libraries
// already in shells stay loaded but hand nothing on until an agent runs again.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "agent/component_copy.h"
#include "agent/enable_watch.h"
#include "agent/shell_attacher.h"
#include "agent/window_watch.h"
#include "common/command_line.h"
#include "common/instance_names.h"
#include "framework/handles.h"
#include "injection/agent_state.h"
#include "injection/component_files.h"

namespace {

// A scan lists the processes, which is not free (about a millisecond of CPU
// under Wine). The agent looks at once when a shell it has not seen makes a
// window or a program with the library started another, every second for a
// while after its own start and after a shell it holds ended (its successor
// is on its way), and otherwise every ten seconds, for a shell on another
// desktop or one that made no window yet.
constexpr DWORD kQuickScanMs = 1000;
constexpr DWORD kQuietScanMs = 10000;
constexpr ULONGLONG kQuickPeriodMs = 10000;

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
    const UniqueKernelHandle wake(CreateEventW(nullptr, FALSE, FALSE, injection::kAgentWakeName));
    if (!wake)
        return 1;
    agent::ShellAttacher shells(copyFolder, installFolder);
    agent::WindowWatch windows;
    ULONGLONG quickUntil = GetTickCount64() + kQuickPeriodMs;
    ULONGLONG nextScan = 0;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD interval = now < quickUntil ? kQuickScanMs : kQuietScanMs;
        if (now >= nextScan) {
            shells.Scan();
            windows.Forget();
            nextScan = now + interval;
        }
        std::vector<HANDLE> waits = {exit.Get(), enable.Changed(), wake.Get()};
        const std::size_t fixed = waits.size();
        for (HANDLE shell : shells.Held()) {
            if (waits.size() < MAXIMUM_WAIT_OBJECTS - 1)
                waits.push_back(shell);
        }
        const DWORD woken = MsgWaitForMultipleObjects(
            static_cast<DWORD>(waits.size()), waits.data(), FALSE,
            static_cast<DWORD>(nextScan - std::min(nextScan, GetTickCount64())), QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED)
            return 0;
        if (woken == WAIT_OBJECT_0 + 1 || enable.RetryDue())
            enable.Reread();
        if (woken == WAIT_OBJECT_0 + 2)
            nextScan = 0;
        if (woken >= WAIT_OBJECT_0 + fixed && woken < WAIT_OBJECT_0 + waits.size()) {
            quickUntil = GetTickCount64() + kQuickPeriodMs;
            nextScan = 0;
        }
        if (windows.NewShellSeen())
            nextScan = 0;
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
