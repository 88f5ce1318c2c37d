// hook/hook_main.cpp
// The library's entry: on load it reads client.db once and, when this
// process is covered, puts its replacements in place. Otherwise it does
// nothing at all and the process runs untouched.
#include <windows.h>

#include "common/module_dir.h"
#include "hook/hook_config.h"
#include "hook/hook_install.h"
#include "hook/program_match.h"
#include "hook/proxy_settings.h"

namespace {

bool IsCovered(const hook::HookConfig& config)
{
    return config.enabled &&
           (config.allPrograms || hook::IsListedProgram(config.programs, hook::OwnProgramPath()));
}

void Start(HMODULE self)
{
    hook::HookConfig config;
    if (!InitModuleDir(self) ||
        !hook::ReadHookConfig(GetClientDbPath(), hook::kConfigBusyTimeoutMs, config) ||
        !IsCovered(config))
        return;
    // Replaced functions point into this library from now on: it must stay
    // loaded whatever the program frees.
    HMODULE pinned = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(&Start), &pinned);
    hook::SetProxyServer(config.server);
    hook::InstallHooks(self);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        Start(instance);
    }
    // Always loaded: a refusal would not stop the program, only the library.
    return TRUE;
}
