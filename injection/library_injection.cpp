// injection/library_injection.cpp
#include "injection/library_injection.h"

#include <memory>
#include <vector>

#include "framework/handles.h"
#include "injection/component_files.h"
#include "injection/remote_memory.h"
#include "injection/start_block.h"
#include "injection/start_stub.h"

namespace injection {

namespace {

// The other launcher only writes into the process and ends; it never takes
// this long.
constexpr DWORD kHandOverTimeoutMs = 30000;

bool IsWow64(HANDLE process, bool& wow64)
{
    BOOL result = FALSE;
    if (!IsWow64Process(process, &result))
        return false;
    wow64 = result != FALSE;
    return true;
}

bool HandToOtherLauncher(const PROCESS_INFORMATION& child, void* ownModule, const Handoff& handoff,
                         std::uint64_t readyEvent)
{
    const std::wstring launcher = ComponentPath(ownModule, kOtherWidthLauncherFile);
    if (launcher.empty())
        return false;
    const std::string arguments = std::string(" ") + kAttachSwitch + " " +
                                  std::to_string(child.dwProcessId) + " " +
                                  std::to_string(child.dwThreadId) + " " +
                                  std::to_string(readyEvent) + " " + EncodeHandoff(handoff);
    std::wstring line = L"\"" + launcher + L"\"";
    line.append(arguments.begin(), arguments.end());  // ASCII only
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(launcher.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &info))
        return false;
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    DWORD code = 1;
    if (WaitForSingleObject(process.Get(), kHandOverTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.Get(), 1);
        return false;
    }
    return GetExitCodeProcess(process.Get(), &code) && code == 0;
}

// The stub, executable and never writable in the process.
bool WriteStub(HANDLE process, RemoteMemory& code)
{
    DWORD previous = 0;
    return code.Write(StartStubCode(), StartStubSize()) &&
           VirtualProtectEx(process, code.Get(), StartStubSize(), PAGE_EXECUTE_READ, &previous) &&
           FlushInstructionCache(process, code.Get(), StartStubSize());
}

}  // namespace

bool QuerySameWidth(HANDLE process, bool& same)
{
    bool mine = false;
    bool theirs = false;
    if (!IsWow64(GetCurrentProcess(), mine) || !IsWow64(process, theirs))
        return false;
    same = mine == theirs;
    return true;
}

bool QueueLibraryStart(HANDLE process, HANDLE thread, const std::wstring& libraryPath,
                       const Handoff& handoff, std::uint64_t readyEvent)
{
    // Too large for the stack of a thread that merely starts a program.
    const auto block = std::make_unique<StartBlock>();
    if (!LoadKernelFunctions(*block) || !FillStartBlock(*block, libraryPath, handoff, readyEvent))
        return false;
    RemoteMemory data(process, sizeof(StartBlock));
    RemoteMemory code(process, StartStubSize());
    if (!data.Write(block.get(), sizeof(StartBlock)) || !WriteStub(process, code))
        return false;
    if (!QueueUserAPC(reinterpret_cast<PAPCFUNC>(code.Get()), thread,
                      reinterpret_cast<ULONG_PTR>(data.Get())))
        return false;
    data.Keep();
    code.Keep();
    return true;
}

bool AttachHookLibrary(const PROCESS_INFORMATION& child, void* ownModule, const Handoff& handoff,
                       std::uint64_t readyEvent)
{
    bool same = false;
    if (!QuerySameWidth(child.hProcess, same))
        return false;
    if (!same)
        return HandToOtherLauncher(child, ownModule, handoff, readyEvent);
    return QueueLibraryStart(child.hProcess, child.hThread,
                             ComponentPath(ownModule, kHookLibraryFile), handoff, readyEvent);
}

}  // namespace injection
