// hook/hook_install.cpp
#include "hook/hook_install.h"

#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "hook/connect_hooks.h"
#include "hook/datagram_hooks.h"
#include "hook/import_patcher.h"
#include "hook/loader_hooks.h"
#include "hook/lookup_hooks.h"
#include "hook/never_destroyed.h"
#include "hook/process_hooks.h"
#include "hook/reverse_hooks.h"
#include "hook/socket_hooks.h"
#include "hook/wait_hooks.h"

namespace hook {

namespace {

struct Replacement {
    const char* module;
    const char* name;
    void* hook;
    bool standsAlone = false;  // needs no original: may stand in for a missing one
};

// What a carrier replaces: the starting of programs, and what it takes to
// reach every module's calls of it.
bool Carries(const Replacement& entry)
{
    return std::strncmp(entry.name, "CreateProcess", 13) == 0 ||
           std::strncmp(entry.name, "LoadLibrary", 11) == 0 ||
           std::strcmp(entry.name, "GetProcAddress") == 0;
}

template <typename F>
void* Hook(F* function)
{
    return reinterpret_cast<void*>(function);
}

// A function may be exported by several modules at different addresses (one
// forwarding to another): importers of each are redirected.
const Replacement kReplacements[] = {
    {"ws2_32.dll", "connect", Hook(&HookConnect)},
    {"ws2_32.dll", "WSAConnect", Hook(&HookWSAConnect)},
    {"ws2_32.dll", "WSAIoctl", Hook(&HookWSAIoctl)},
    {"ws2_32.dll", "WSAConnectByNameA", Hook(&HookWSAConnectByNameA)},
    {"ws2_32.dll", "WSAConnectByNameW", Hook(&HookWSAConnectByNameW)},
    {"ws2_32.dll", "WSAConnectByList", Hook(&HookWSAConnectByList), true},
    {"ws2_32.dll", "socket", Hook(&HookSocket)},
    {"ws2_32.dll", "WSASocketA", Hook(&HookWSASocketA)},
    {"ws2_32.dll", "WSASocketW", Hook(&HookWSASocketW)},
    {"ws2_32.dll", "closesocket", Hook(&HookClosesocket)},
    {"ws2_32.dll", "ioctlsocket", Hook(&HookIoctlsocket)},
    {"ws2_32.dll", "WSAEventSelect", Hook(&HookWSAEventSelect)},
    {"ws2_32.dll", "WSAAsyncSelect", Hook(&HookWSAAsyncSelect)},
    {"ws2_32.dll", "WSAEnumNetworkEvents", Hook(&HookWSAEnumNetworkEvents)},
    {"ws2_32.dll", "getpeername", Hook(&HookGetpeername)},
    {"ws2_32.dll", "getsockopt", Hook(&HookGetsockopt)},
    {"ws2_32.dll", "select", Hook(&HookSelect)},
    {"ws2_32.dll", "WSAPoll", Hook(&HookWSAPoll)},
    {"ws2_32.dll", "getaddrinfo", Hook(&HookGetaddrinfo)},
    {"ws2_32.dll", "GetAddrInfoW", Hook(&HookGetAddrInfoW)},
    {"ws2_32.dll", "GetAddrInfoExA", Hook(&HookGetAddrInfoExA), true},
    {"ws2_32.dll", "GetAddrInfoExW", Hook(&HookGetAddrInfoExW)},
    {"ws2_32.dll", "GetAddrInfoExCancel", Hook(&HookGetAddrInfoExCancel)},
    {"ws2_32.dll", "FreeAddrInfoEx", Hook(&HookFreeAddrInfoEx)},
    {"ws2_32.dll", "gethostbyname", Hook(&HookGethostbyname)},
    {"ws2_32.dll", "WSAAsyncGetHostByName", Hook(&HookWSAAsyncGetHostByName)},
    {"ws2_32.dll", "getnameinfo", Hook(&HookGetnameinfo)},
    {"ws2_32.dll", "GetNameInfoW", Hook(&HookGetNameInfoW)},
    {"ws2_32.dll", "gethostbyaddr", Hook(&HookGethostbyaddr)},
    {"ws2_32.dll", "sendto", Hook(&HookSendto)},
    {"ws2_32.dll", "WSASendTo", Hook(&HookWSASendTo)},
    {"ws2_32.dll", "WSASendMsg", Hook(&HookWSASendMsg)},
    {"kernel32.dll", "GetProcAddress", Hook(&HookGetProcAddress)},
    {"kernel32.dll", "LoadLibraryA", Hook(&HookLoadLibraryA)},
    {"kernel32.dll", "LoadLibraryW", Hook(&HookLoadLibraryW)},
    {"kernel32.dll", "LoadLibraryExA", Hook(&HookLoadLibraryExA)},
    {"kernel32.dll", "LoadLibraryExW", Hook(&HookLoadLibraryExW)},
    {"kernel32.dll", "CreateProcessA", Hook(&HookCreateProcessA)},
    {"kernel32.dll", "CreateProcessW", Hook(&HookCreateProcessW)},
    {"kernel32.dll", "CreateProcessAsUserA", Hook(&HookCreateProcessAsUserA)},
    {"kernel32.dll", "CreateProcessAsUserW", Hook(&HookCreateProcessAsUserW)},
    {"kernel32.dll", "CreateIoCompletionPort", Hook(&HookCreateIoCompletionPort)},
    {"kernelbase.dll", "GetProcAddress", Hook(&HookGetProcAddress)},
    {"kernelbase.dll", "LoadLibraryA", Hook(&HookLoadLibraryA)},
    {"kernelbase.dll", "LoadLibraryW", Hook(&HookLoadLibraryW)},
    {"kernelbase.dll", "LoadLibraryExA", Hook(&HookLoadLibraryExA)},
    {"kernelbase.dll", "LoadLibraryExW", Hook(&HookLoadLibraryExW)},
    {"kernelbase.dll", "CreateProcessA", Hook(&HookCreateProcessA)},
    {"kernelbase.dll", "CreateProcessW", Hook(&HookCreateProcessW)},
    {"kernelbase.dll", "CreateProcessAsUserA", Hook(&HookCreateProcessAsUserA)},
    {"kernelbase.dll", "CreateProcessAsUserW", Hook(&HookCreateProcessAsUserW)},
    {"kernelbase.dll", "CreateIoCompletionPort", Hook(&HookCreateIoCompletionPort)},
    {"advapi32.dll", "CreateProcessAsUserA", Hook(&HookCreateProcessAsUserA)},
    {"advapi32.dll", "CreateProcessAsUserW", Hook(&HookCreateProcessAsUserW)},
};
constexpr std::size_t kMaxRedirects = sizeof kReplacements / sizeof kReplacements[0];

struct State {
    HMODULE self = nullptr;
    bool carrierOnly = false;  // set before anything is installed
    // Redirects are only ever added, each before the count that publishes
    // it, so that lookups on any thread need no lock.
    ImportRedirect redirects[kMaxRedirects] = {};
    std::atomic<std::size_t> count{0};
    bool resolved[kMaxRedirects] = {};
    // Left unpatched: the library, whose imports must keep reaching the
    // originals, and the modules that export the originals, which call one
    // another through their own imports (kernel32's GetProcAddress calls
    // kernelbase's): patched, a replacement calling its original would end
    // up in itself.
    std::vector<HMODULE> unpatched;
    SRWLOCK lock = SRWLOCK_INIT;  // over `resolved` and `unpatched`
};

State& Installed()
{
    static NeverDestroyed<State> state;
    return state.Get();
}

bool SameModuleName(const char* left, const char* right)
{
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, left, -1, right, -1) == CSTR_EQUAL;
}

// The replacement for a function imported by name, whether or not its module
// is loaded yet (delay-loaded) or exports it at all: the replacement reaches
// the original itself, or does without it.
void* NamedReplacement(const char* moduleName, const char* functionName)
{
    // System modules name the kernel's functions by API set ("api-ms-win-
    // core-processthreads-l1-1-0.dll"), which resolve to kernelbase.
    const bool apiSet = _strnicmp(moduleName, "api-ms-", 7) == 0;
    const bool carrierOnly = Installed().carrierOnly;
    for (const Replacement& entry : kReplacements) {
        if (std::strcmp(entry.name, functionName) != 0 || (carrierOnly && !Carries(entry)))
            continue;
        if (SameModuleName(entry.module, moduleName) ||
            (apiSet && SameModuleName(entry.module, "kernelbase.dll")))
            return entry.hook;
    }
    return nullptr;
}

// Learns the originals in modules loaded since the last call. The loader is
// asked without the state's lock held: a thread inside the loader may be
// waiting for that lock in OnModuleLoaded.
void ResolveRedirects(State& state)
{
    for (std::size_t i = 0; i < kMaxRedirects; ++i) {
        AcquireSRWLockShared(&state.lock);
        const bool known = state.resolved[i];
        ReleaseSRWLockShared(&state.lock);
        if (known || (state.carrierOnly && !Carries(kReplacements[i])))
            continue;
        const HMODULE module = GetModuleHandleA(kReplacements[i].module);
        if (module == nullptr)
            continue;
        const void* original =
            reinterpret_cast<const void*>(GetProcAddress(module, kReplacements[i].name));
        AcquireSRWLockExclusive(&state.lock);
        if (!state.resolved[i]) {
            state.resolved[i] = true;
            if (std::find(state.unpatched.begin(), state.unpatched.end(), module) ==
                state.unpatched.end())
                state.unpatched.push_back(module);
            if (original != nullptr && ReplacementOf(original) == nullptr) {
                const std::size_t next = state.count.load();
                state.redirects[next] = {original, kReplacements[i].hook};
                state.count.store(next + 1);
            }
        }
        ReleaseSRWLockExclusive(&state.lock);
    }
}

PatchTable Table(State& state)
{
    return {state.redirects, state.count.load(), &NamedReplacement};
}

bool IsUnpatched(State& state, HMODULE module)
{
    AcquireSRWLockShared(&state.lock);
    const bool found =
        std::find(state.unpatched.begin(), state.unpatched.end(), module) != state.unpatched.end();
    ReleaseSRWLockShared(&state.lock);
    return found;
}

// The loader tells of every module it maps, whoever asked for it (the
// program, another module, the system itself), after the module's imports
// are bound and before its own initialisation runs.
struct LoadedNotification {
    ULONG flags;
    const UNICODE_STRING* fullName;
    const UNICODE_STRING* baseName;
    void* base;
    ULONG size;
};
using NotificationFunction = VOID(CALLBACK*)(ULONG reason, const LoadedNotification* data,
                                             void* context);
using RegisterFunction = LONG(NTAPI*)(ULONG flags, NotificationFunction function, void* context,
                                      void** cookie);
constexpr ULONG kReasonLoaded = 1;

VOID CALLBACK OnModuleLoaded(ULONG reason, const LoadedNotification* data, void*)
{
    if (reason != kReasonLoaded || data == nullptr)
        return;
    State& state = Installed();
    ResolveRedirects(state);
    const auto module = static_cast<HMODULE>(data->base);
    if (!IsUnpatched(state, module))
        PatchModuleImports(module, Table(state));
}

void WatchModuleLoads()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto reg = ntdll != nullptr ? reinterpret_cast<RegisterFunction>(reinterpret_cast<void*>(
                                            GetProcAddress(ntdll, "LdrRegisterDllNotification")))
                                      : nullptr;
    void* cookie = nullptr;
    if (reg != nullptr)
        reg(0, &OnModuleLoaded, nullptr, &cookie);  // kept for the process's life
}

}  // namespace

void InstallHooks(HMODULE self, bool carrierOnly)
{
    State& state = Installed();
    state.carrierOnly = carrierOnly;
    state.self = self;
    state.unpatched.push_back(self);
    ResolveRedirects(state);
    WatchModuleLoads();
    PatchNewModules();
}

void PatchNewModules()
{
    State& state = Installed();
    if (state.self == nullptr)
        return;
    ResolveRedirects(state);
    AcquireSRWLockShared(&state.lock);
    const std::vector<HMODULE> skip = state.unpatched;
    ReleaseSRWLockShared(&state.lock);
    PatchLoadedModules(skip, Table(state));
}

void* ReplacementOf(const void* original)
{
    State& state = Installed();
    const std::size_t count = state.count.load();
    for (std::size_t i = 0; i < count; ++i) {
        if (state.redirects[i].original == original)
            return state.redirects[i].replacement;
    }
    return nullptr;
}

void* ReplacementByName(const char* moduleName, const char* functionName)
{
    if (Installed().carrierOnly)
        return nullptr;
    for (const Replacement& entry : kReplacements) {
        if (entry.standsAlone && std::strcmp(entry.name, functionName) == 0 &&
            SameModuleName(entry.module, moduleName))
            return entry.hook;
    }
    return nullptr;
}

void* OriginalOf(const void* replacement)
{
    State& state = Installed();
    const std::size_t count = state.count.load();
    for (std::size_t i = 0; i < count; ++i) {
        if (state.redirects[i].replacement == replacement)
            return const_cast<void*>(state.redirects[i].original);
    }
    return nullptr;
}

HMODULE HookModule()
{
    return Installed().self;
}

}  // namespace hook
