// hook/hook_install.h
// Which functions the library replaces, and putting the replacements in place
// in every module: at load, and again after every module load the program
// asks for.
#pragma once

#include <windows.h>

namespace hook {

// Once, while the library is being loaded into a covered process.
void InstallHooks(HMODULE self);

// Patches modules loaded since; cheap enough to run after every load.
void PatchNewModules();

// The replacement of an original function, or null: for GetProcAddress.
void* ReplacementOf(const void* original);

// The library's own module, for finding the files beside it.
HMODULE HookModule();

}  // namespace hook
