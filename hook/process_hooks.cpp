// hook/process_hooks.cpp
#include "hook/process_hooks.h"

#include "framework/handles.h"
#include "hook/carrier.h"
#include "hook/coverage.h"
#include "hook/hook_install.h"
#include "hook/proxy_settings.h"
#include "injection/child_start.h"

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

// A program was started (or not): the agent hears of it, keeping the
// caller's last error.
BOOL Started(BOOL started)
{
    if (started) {
        const DWORD error = GetLastError();
        WakeAgent();
        SetLastError(error);
    }
    return started;
}

// The child was created suspended. It runs only once the library has
// decided; should that fail it is ended, and the caller sees a failed start,
// never an uncovered child. A caller that asked for CREATE_SUSPENDED gets it
// suspended and cannot be waited for: the queued stub then ends the child
// itself if the library fails to start.
BOOL FinishChild(DWORD flags, LPPROCESS_INFORMATION info)
{
    injection::Handoff handoff;
    if (GetRole() == Role::Covered) {
        handoff = HandoffForChildren(GetProxyServer());
    } else {
        handoff.enabled = true;  // the child decides from client.db
    }
    handoff.configFolder = ConfigFolder();
    if (!injection::StartWithLibrary(*info, HookModule(), handoff,
                                     (flags & CREATE_SUSPENDED) == 0)) {
        // The caller never sees the ended child's handles.
        const UniqueKernelHandle process(info->hProcess);
        const UniqueKernelHandle thread(info->hThread);
        *info = PROCESS_INFORMATION{};
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return Started(TRUE);
}

// A covered program's children always get the library; a carrier's, and a
// shell's, only while an agent runs and proxying is on: otherwise they start
// untouched.
bool HandsOn()
{
    return (GetRole() == Role::Covered && !IsResident()) || AgentAllowsStarts();
}

// The system's CreateProcessAsUser that a replacement stands for. Should no
// slot have been redirected from it yet, advapi32's export is the same
// function: the library's own lookups are never redirected.
template <typename Function>
Function OriginalAsUser(const void* replacement, const char* name)
{
    void* original = OriginalOf(replacement);
    if (original == nullptr) {
        HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
        if (advapi == nullptr)
            advapi = LoadLibraryW(L"advapi32.dll");
        if (advapi != nullptr)
            original = reinterpret_cast<void*>(GetProcAddress(advapi, name));
    }
    return reinterpret_cast<Function>(original);
}

using CreateAsUserA = BOOL(WINAPI*)(HANDLE, LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES,
                                    LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR,
                                    LPSTARTUPINFOA, LPPROCESS_INFORMATION);
using CreateAsUserW = BOOL(WINAPI*)(HANDLE, LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES,
                                    LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR,
                                    LPSTARTUPINFOW, LPPROCESS_INFORMATION);

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
    if (!HandsOn())
        return Started(CreateProcessA(application, commandLine, processAttributes,
                                      threadAttributes, inheritHandles, flags, environment,
                                      currentDirectory, startup, info));
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
    if (!HandsOn())
        return Started(CreateProcessW(application, commandLine, processAttributes,
                                      threadAttributes, inheritHandles, flags, environment,
                                      currentDirectory, startup, info));
    if (!CreateProcessW(application, commandLine, processAttributes, threadAttributes,
                        inheritHandles, flags | CREATE_SUSPENDED, environment, currentDirectory,
                        startup, info))
        return FALSE;
    return FinishChild(flags, info);
}

BOOL WINAPI HookCreateProcessAsUserA(HANDLE token, LPCSTR application, LPSTR commandLine,
                                     LPSECURITY_ATTRIBUTES processAttributes,
                                     LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                     DWORD flags, LPVOID environment, LPCSTR currentDirectory,
                                     LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info)
{
    const CreateAsUserA original = OriginalAsUser<CreateAsUserA>(
        reinterpret_cast<const void*>(&HookCreateProcessAsUserA), "CreateProcessAsUserA");
    if (original == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    NestingGuard guard;
    if (!guard.Outermost())
        return original(token, application, commandLine, processAttributes, threadAttributes,
                        inheritHandles, flags, environment, currentDirectory, startup, info);
    if (!HandsOn())
        return Started(original(token, application, commandLine, processAttributes,
                                threadAttributes, inheritHandles, flags, environment,
                                currentDirectory, startup, info));
    if (!original(token, application, commandLine, processAttributes, threadAttributes,
                  inheritHandles, flags | CREATE_SUSPENDED, environment, currentDirectory, startup,
                  info))
        return FALSE;
    return FinishChild(flags, info);
}

BOOL WINAPI HookCreateProcessAsUserW(HANDLE token, LPCWSTR application, LPWSTR commandLine,
                                     LPSECURITY_ATTRIBUTES processAttributes,
                                     LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                     DWORD flags, LPVOID environment, LPCWSTR currentDirectory,
                                     LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info)
{
    const CreateAsUserW original = OriginalAsUser<CreateAsUserW>(
        reinterpret_cast<const void*>(&HookCreateProcessAsUserW), "CreateProcessAsUserW");
    if (original == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    NestingGuard guard;
    if (!guard.Outermost())
        return original(token, application, commandLine, processAttributes, threadAttributes,
                        inheritHandles, flags, environment, currentDirectory, startup, info);
    if (!HandsOn())
        return Started(original(token, application, commandLine, processAttributes,
                                threadAttributes, inheritHandles, flags, environment,
                                currentDirectory, startup, info));
    if (!original(token, application, commandLine, processAttributes, threadAttributes,
                  inheritHandles, flags | CREATE_SUSPENDED, environment, currentDirectory, startup,
                  info))
        return FALSE;
    return FinishChild(flags, info);
}

}  // namespace hook
