// launcher/run_main.cpp
// The launcher: starts the program suspended, has the library's start queued
// into it, resumes it and waits until the library has decided. The library
// decides on its own, from client.db, whether the program is proxied; the
// launcher never reads the database, so it hands over "parent not covered".
#include <windows.h>

#include <vector>

#include "framework/handles.h"
#include "injection/child_start.h"
#include "injection/handoff.h"
#include "injection/component_files.h"
#include "injection/library_injection.h"
#include "injection/resident_start.h"
#include "injection/start_block.h"
#include "launcher/run_command_line.h"

namespace {

// The launcher's own failures, apart from any exit code a program is likely
// to use.
constexpr UINT kExitUsage = 0x4B520001;
constexpr UINT kExitNotStarted = 0x4B520002;
constexpr UINT kExitNotAttached = injection::kExitLibraryNotStarted;

// Ctrl+C in a shared console is the program's to answer: the launcher stays
// to report its exit code. A handler function, unlike ignoring the signal,
// is not inherited by the program.
BOOL WINAPI LeaveSignalsToTheProgram(DWORD)
{
    return TRUE;
}

// Started from a console, the launcher (a windowed program, so that a
// shortcut opens no console window) joins it before starting the program:
// a console program then writes where the user typed and reads what the
// user types there, as if started directly. Started otherwise there is no
// console to join and a console program gets its own, as before.
void JoinCallersConsole()
{
    if (AttachConsole(ATTACH_PARENT_PROCESS))
        SetConsoleCtrlHandler(&LeaveSignalsToTheProgram, TRUE);
}

UINT Run(const launcher::WideRunRequest& request)
{
    std::vector<wchar_t> line(request.programLine.begin(), request.programLine.end());
    line.push_back(L'\0');
    // The program is shown, and writes where, as the launcher was asked to.
    STARTUPINFOW own = {};
    GetStartupInfoW(&own);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = own.dwFlags & (STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES);
    startup.wShowWindow = own.wShowWindow;
    startup.hStdInput = own.hStdInput;
    startup.hStdOutput = own.hStdOutput;
    startup.hStdError = own.hStdError;
    JoinCallersConsole();
    PROCESS_INFORMATION info = {};
    // The program inherits what a program started by the user's shell would.
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &info))
        return kExitNotStarted;
    const UniqueKernelHandle process(info.hProcess);
    const UniqueKernelHandle thread(info.hThread);
    // Ended by StartWithLibrary when the library is not in place in time.
    if (!injection::StartWithLibrary(info, nullptr, injection::Handoff{}, true))
        return kExitNotAttached;
    if (!request.wait)
        return 0;
    WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = kExitNotStarted;
    GetExitCodeProcess(process.Get(), &code);
    return code;
}

UINT Attach(const launcher::WideRunRequest& request)
{
    injection::Handoff handoff;
    if (!injection::DecodeHandoff(request.handoff, handoff))
        return kExitUsage;
    const UniqueKernelHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_OPERATION | PROCESS_VM_WRITE,
                    FALSE, request.processId));
    const UniqueKernelHandle thread(OpenThread(THREAD_SET_CONTEXT, FALSE, request.threadId));
    bool same = false;
    if (!process || !thread || !injection::QuerySameWidth(process.Get(), same) || !same)
        return kExitNotAttached;
    PROCESS_INFORMATION info = {process.Get(), thread.Get(), request.processId, request.threadId};
    // The process that asked resumes the program and waits for it.
    return injection::AttachHookLibrary(info, nullptr, handoff, request.readyEvent)
               ? 0
               : kExitNotAttached;
}

// The library from this launcher's folder, into a running shell of this
// width; the agent decided that it may.
UINT AttachShell(const launcher::WideRunRequest& request)
{
    injection::Handoff handoff;
    if (!injection::DecodeHandoff(request.handoff, handoff) || !handoff.resident)
        return kExitUsage;
    const UniqueKernelHandle process(OpenProcess(injection::kResidentStartAccess, FALSE,
                                                 request.processId));
    bool same = false;
    if (!process || !injection::QuerySameWidth(process.Get(), same) || !same)
        return kExitNotAttached;
    const std::wstring library = injection::ComponentPath(nullptr, injection::kHookLibraryFile);
    return !library.empty() && injection::StartInRunningProcess(process.Get(), library, handoff)
               ? 0
               : kExitNotAttached;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const launcher::WideRunRequest request = launcher::ParseRunCommandLine(GetCommandLineW());
    switch (request.mode) {
    case launcher::RunMode::Run:
        return static_cast<int>(Run(request));
    case launcher::RunMode::Attach:
        return static_cast<int>(Attach(request));
    case launcher::RunMode::Shell:
        return static_cast<int>(AttachShell(request));
    default:
        return static_cast<int>(kExitUsage);
    }
}
