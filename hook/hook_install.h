// hook/hook_install.h
// Which functions the library replaces, and putting the replacements in place
// in every module: at load, as each later module is loaded (before its own
// code runs), and after every load the program asks for.
#pragma once

#include <windows.h>

namespace hook {

// Once, when the library has decided that this process is covered, or that
// it carries the library on (`carrierOnly`: only the starting of programs,
// and the loading that reaches it, are replaced).
void InstallHooks(HMODULE self, bool carrierOnly = false);

// Patches modules loaded since; cheap enough to run after every load.
void PatchNewModules();

// The replacement of an original function, or null: for GetProcAddress.
void* ReplacementOf(const void* original);

// For an export the system lacks (Wine has no GetAddrInfoExA) that the
// library provides whole: its replacement, which the program gets instead.
void* ReplacementByName(const char* moduleName, const char* functionName);

// An original function a replacement stands for, or null before the module
// that exports it is loaded.
void* OriginalOf(const void* replacement);

// The library's own module, for finding the files beside it.
HMODULE HookModule();

}  // namespace hook
