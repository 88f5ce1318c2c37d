// hook/hook_main.cpp
// The library's entry points. Loading it does nothing but load it: the
// start stub that loaded it then calls KestrelStart, outside the loader
// lock, which reads client.db once and, when this process is covered, puts
// the replacements in place. Otherwise the process runs untouched.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "common/module_dir.h"
#include "framework/handles.h"
#include "hook/carrier.h"
#include "hook/coverage.h"
#include "hook/hook_config.h"
#include "hook/hook_install.h"
#include "hook/local_names.h"
#include "hook/program_match.h"
#include "hook/proxy_settings.h"
#include "injection/component_files.h"
#include "injection/start_block.h"

namespace {

HMODULE OwnModule()
{
    HMODULE self = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&OwnModule), &self);
    return self;
}

std::wstring ConfigPath(HMODULE self, const std::wstring& folder)
{
    if (folder.empty())
        return injection::ComponentPath(self, injection::kConfigFile);
    return folder + L"\\" + injection::kConfigFile;
}

// `enabled`: client.db was read and says proxying is on.
hook::Coverage Decide(HMODULE self, const injection::Handoff& parent, bool& enabled)
{
    InitModuleDir(self);
    hook::HookConfig config;
    enabled = false;
    // Wide: the folder may hold characters the ANSI code page cannot spell.
    const std::wstring db = ConfigPath(self, parent.configFolder);
    if (db.empty() || !hook::ReadHookConfig(db, hook::kConfigBusyTimeoutMs, config))
        return hook::DecideCoverage(nullptr, false, parent);
    enabled = config.enabled;
    const bool listed = config.enabled && !config.allPrograms && !parent.parentCovered &&
                        hook::IsListedProgram(config.programs, hook::OwnProgramPath());
    return hook::DecideCoverage(&config, listed, parent);
}

// Replaced functions point into this library from now on: it must stay
// loaded whatever the program frees.
bool Pin()
{
    HMODULE pinned = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&OwnModule), &pinned) != FALSE;
}

bool Start(const injection::StartBlock& block)
{
    // The parent's copy of the event; set once decided, whatever was decided.
    const UniqueKernelHandle ready(
        reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(block.readyEvent)));
    const HMODULE self = OwnModule();
    if (block.size != sizeof(injection::StartBlock) || self == nullptr)
        return false;
    const injection::Handoff parent = injection::HandoffFromBlock(block);
    // Already started here: a shell that got the library as a program
    // started, and that the agent then found. It only becomes resident.
    static std::atomic<bool> s_started{false};
    static std::atomic<bool> s_installed{false};
    if (s_started.exchange(true)) {
        if (parent.resident && !hook::IsResident()) {
            // Left untouched at its start (proxying was off): it carries now.
            if (!s_installed.load()) {
                if (!Pin())
                    return false;
                hook::SetRole(hook::Role::Carrier);
                hook::InstallHooks(self, true);
                s_installed.store(true);
            }
            hook::BecomeResident();
        }
        if (ready)
            SetEvent(ready.Get());
        return true;
    }
    hook::SetConfigFolder(parent.configFolder);
    bool enabled = false;
    const hook::Coverage coverage = Decide(self, parent, enabled);
    // Not covered, it still carries the library on while proxying is on; a
    // shell always does, as it outlives any setting.
    const bool carrier = !coverage.covered && (parent.resident || enabled);
    if (coverage.covered || carrier) {
        if (!Pin())
            return false;
        if (coverage.covered) {
            hook::SetProxyServer(coverage.server);
            hook::LearnOwnNames();
        }
        hook::SetRole(coverage.covered ? hook::Role::Covered : hook::Role::Carrier);
        if (parent.resident)
            hook::BecomeResident();
        hook::InstallHooks(self, carrier);
        s_installed.store(true);
    }
    if (ready)
        SetEvent(ready.Get());
    return true;
}

}  // namespace

// Called by the start stub with the block it was given. FALSE ends the
// process: a program that was to be covered never runs uncovered.
extern "C" __declspec(dllexport) BOOL __cdecl KestrelStart(const injection::StartBlock* block)
{
    try {
        return block != nullptr && Start(*block) ? TRUE : FALSE;
    } catch (...) {
        return FALSE;
    }
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    // Nothing under the loader lock: the work is KestrelStart's.
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    return TRUE;
}
