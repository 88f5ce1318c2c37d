// hook/process_hooks.cpp
#include "hook/process_hooks.h"

#include "hook/hook_install.h"
#include "injection/library_injection.h"

namespace hook {

namespace {

// Marks a thread that is inside a replaced CreateProcess: should the system's
// CreateProcessA reach CreateProcessW through a patched slot, the child gets
// the library once, not twice.
class NestingGuard {
public:
    NestingGuard() : m_outermost(TlsGetValue(Index()) == nullptr)
    {
        if (m_outermost)
            TlsSetValue(Index(), this);
    }
    ~NestingGuard()
    {
        if (m_outermost)
            TlsSetValue(Index(), nullptr);
    }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;

    bool Outermost() const { return m_outermost; }

private:
    static DWORD Index()
    {
        static const DWORD index = TlsAlloc();
        return index;
    }
    bool m_outermost;
};

// The child was created suspended. It runs only with the library queued;
// should that fail it is ended, and the caller sees a failed start, never an
// uncovered child.
BOOL FinishChild(DWORD flags, LPPROCESS_INFORMATION info)
{
    if (!injection::AttachHookLibrary(*info, HookModule())) {
        TerminateProcess(info->hProcess, ERROR_ACCESS_DENIED);
        CloseHandle(info->hThread);
        CloseHandle(info->hProcess);
        *info = PROCESS_INFORMATION{};
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if ((flags & CREATE_SUSPENDED) == 0)
        ResumeThread(info->hThread);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // namespace

BOOL WINAPI HookCreateProcessA(LPCSTR application, LPSTR commandLine,
                               LPSECURITY_ATTRIBUTES processAttributes,
                               LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                               DWORD flags, LPVOID environment, LPCSTR currentDirectory,
                               LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info)
{
    NestingGuard guard;
    if (!guard.Outermost())
        return CreateProcessA(application, commandLine, processAttributes, threadAttributes,
                              inheritHandles, flags, environment, currentDirectory, startup, info);
    if (!CreateProcessA(application, commandLine, processAttributes, threadAttributes,
                        inheritHandles, flags | CREATE_SUSPENDED, environment, currentDirectory,
                        startup, info))
        return FALSE;
    return FinishChild(flags, info);
}

BOOL WINAPI HookCreateProcessW(LPCWSTR application, LPWSTR commandLine,
                               LPSECURITY_ATTRIBUTES processAttributes,
                               LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                               DWORD flags, LPVOID environment, LPCWSTR currentDirectory,
                               LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info)
{
    NestingGuard guard;
    if (!guard.Outermost())
        return CreateProcessW(application, commandLine, processAttributes, threadAttributes,
                              inheritHandles, flags, environment, currentDirectory, startup, info);
    if (!CreateProcessW(application, commandLine, processAttributes, threadAttributes,
                        inheritHandles, flags | CREATE_SUSPENDED, environment, currentDirectory,
                        startup, info))
        return FALSE;
    return FinishChild(flags, info);
}

}  // namespace hook
