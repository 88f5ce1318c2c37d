// launcher/run_main.cpp
// The launcher: starts the program suspended, has the hook library queued
// into it, resumes it. The library decides on its own, from client.db,
// whether the program is proxied; the launcher never reads the database.
#include <windows.h>

#include <vector>

#include "framework/handles.h"
#include "injection/library_injection.h"
#include "launcher/run_command_line.h"

namespace {

// The launcher's own failures, apart from any exit code a program is likely
// to use.
constexpr UINT kExitUsage = 0x4B520001;
constexpr UINT kExitNotStarted = 0x4B520002;
constexpr UINT kExitNotAttached = 0x4B520003;

UINT Run(const launcher::RunRequest& request)
{
    std::vector<char> line(request.programLine.begin(), request.programLine.end());
    line.push_back('\0');
    // The program is shown, and writes where, as the launcher was asked to.
    STARTUPINFOA own = {};
    GetStartupInfoA(&own);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = own.dwFlags & (STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES);
    startup.wShowWindow = own.wShowWindow;
    startup.hStdInput = own.hStdInput;
    startup.hStdOutput = own.hStdOutput;
    startup.hStdError = own.hStdError;
    PROCESS_INFORMATION info = {};
    // The program inherits what a program started by the user's shell would.
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &info))
        return kExitNotStarted;
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    if (!injection::AttachHookLibrary(info, nullptr)) {
        // Never let a program run uncovered that was meant to be covered.
        TerminateProcess(process.Get(), kExitNotAttached);
        return kExitNotAttached;
    }
    ResumeThread(thread.Get());
    if (!request.wait)
        return 0;
    WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = kExitNotStarted;
    GetExitCodeProcess(process.Get(), &code);
    return code;
}

UINT Attach(const launcher::RunRequest& request)
{
    UniqueKernelHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_OPERATION | PROCESS_VM_WRITE,
                    FALSE, request.processId));
    UniqueKernelHandle thread(OpenThread(THREAD_SET_CONTEXT, FALSE, request.threadId));
    bool same = false;
    if (!process || !thread || !injection::QuerySameWidth(process.Get(), same) || !same)
        return kExitNotAttached;
    PROCESS_INFORMATION info = {process.Get(), thread.Get(), request.processId, request.threadId};
    return injection::AttachHookLibrary(info, nullptr) ? 0 : kExitNotAttached;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const launcher::RunRequest request = launcher::ParseRunCommandLine(GetCommandLineA());
    switch (request.mode) {
    case launcher::RunRequest::Mode::Run:
        return static_cast<int>(Run(request));
    case launcher::RunRequest::Mode::Attach:
        return static_cast<int>(Attach(request));
    default:
        return static_cast<int>(kExitUsage);
    }
}
