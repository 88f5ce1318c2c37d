// hook/hook_install.cpp
#include "hook/hook_install.h"

#include <algorithm>
#include <vector>

#include "hook/connect_hooks.h"
#include "hook/import_patcher.h"
#include "hook/loader_hooks.h"
#include "hook/process_hooks.h"

namespace hook {

namespace {

struct Replacement {
    const char* module;
    const char* name;
    void* hook;
};

// A function may be exported by kernel32 and kernelbase at two addresses
// (one forwarding to the other); importers of either are redirected.
const Replacement kReplacements[] = {
    {"ws2_32.dll", "connect", reinterpret_cast<void*>(&HookConnect)},
    {"ws2_32.dll", "WSAConnect", reinterpret_cast<void*>(&HookWSAConnect)},
    {"ws2_32.dll", "WSAIoctl", reinterpret_cast<void*>(&HookWSAIoctl)},
    {"kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&HookGetProcAddress)},
    {"kernel32.dll", "LoadLibraryA", reinterpret_cast<void*>(&HookLoadLibraryA)},
    {"kernel32.dll", "LoadLibraryW", reinterpret_cast<void*>(&HookLoadLibraryW)},
    {"kernel32.dll", "LoadLibraryExA", reinterpret_cast<void*>(&HookLoadLibraryExA)},
    {"kernel32.dll", "LoadLibraryExW", reinterpret_cast<void*>(&HookLoadLibraryExW)},
    {"kernel32.dll", "CreateProcessA", reinterpret_cast<void*>(&HookCreateProcessA)},
    {"kernel32.dll", "CreateProcessW", reinterpret_cast<void*>(&HookCreateProcessW)},
    {"kernelbase.dll", "GetProcAddress", reinterpret_cast<void*>(&HookGetProcAddress)},
    {"kernelbase.dll", "LoadLibraryA", reinterpret_cast<void*>(&HookLoadLibraryA)},
    {"kernelbase.dll", "LoadLibraryW", reinterpret_cast<void*>(&HookLoadLibraryW)},
    {"kernelbase.dll", "LoadLibraryExA", reinterpret_cast<void*>(&HookLoadLibraryExA)},
    {"kernelbase.dll", "LoadLibraryExW", reinterpret_cast<void*>(&HookLoadLibraryExW)},
    {"kernelbase.dll", "CreateProcessA", reinterpret_cast<void*>(&HookCreateProcessA)},
    {"kernelbase.dll", "CreateProcessW", reinterpret_cast<void*>(&HookCreateProcessW)},
};

struct State {
    HMODULE self = nullptr;
    // Left unpatched: the library, whose imports must keep reaching the
    // originals, and the modules that export the originals, which call one
    // another through their own imports (kernel32's GetProcAddress calls
    // kernelbase's): patched, a replacement calling its original would end
    // up in itself.
    std::vector<HMODULE> unpatched;
    std::vector<ImportRedirect> redirects;  // fixed once installed
    CRITICAL_SECTION patching;
};

State& Installed()
{
    static State state;
    return state;
}

}  // namespace

void InstallHooks(HMODULE self)
{
    State& state = Installed();
    state.self = self;
    state.unpatched.push_back(self);
    InitializeCriticalSection(&state.patching);
    for (const Replacement& entry : kReplacements) {
        // The library imports ws2_32 and kernel32 itself, so both are loaded;
        // kernelbase exists only on newer systems.
        const HMODULE module = GetModuleHandleA(entry.module);
        if (module != nullptr && std::find(state.unpatched.begin(), state.unpatched.end(),
                                           module) == state.unpatched.end())
            state.unpatched.push_back(module);
        const void* original =
            module != nullptr ? reinterpret_cast<const void*>(GetProcAddress(module, entry.name))
                              : nullptr;
        if (original != nullptr && ReplacementOf(original) == nullptr)
            state.redirects.push_back({original, entry.hook});
    }
    PatchNewModules();
}

void PatchNewModules()
{
    State& state = Installed();
    if (state.redirects.empty())
        return;
    // Two threads loading modules at once must not patch a slot twice over.
    EnterCriticalSection(&state.patching);
    PatchLoadedModules(state.unpatched, state.redirects.data(), state.redirects.size());
    LeaveCriticalSection(&state.patching);
}

void* ReplacementOf(const void* original)
{
    for (const ImportRedirect& redirect : Installed().redirects) {
        if (redirect.original == original)
            return redirect.replacement;
    }
    return nullptr;
}

HMODULE HookModule()
{
    return Installed().self;
}

}  // namespace hook
