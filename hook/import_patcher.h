// hook/import_patcher.h
// Rewrites import address table slots: every slot of a module that holds the
// address of one of the original functions is made to hold its replacement.
// Slots are matched by the address they hold, not by name, so an import by
// ordinal, through a forwarder or an API set is found as well. Delay-loaded
// imports not yet resolved are matched by name and bound to the replacement
// at once, so the delay-load helper never hands out the original.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

namespace hook {

struct ImportRedirect {
    const void* original;
    void* replacement;
};

// The replacement for a function a module delay-loads by name, or null.
using DelayedImportLookup = void* (*)(const char* moduleName, const char* functionName);

struct PatchTable {
    const ImportRedirect* redirects;
    std::size_t count;
    DelayedImportLookup delayed;
};

// Patches the imports of one loaded module that nobody can unload meanwhile
// (the loader is busy loading it, or the caller holds it); returns the slots
// rewritten.
std::size_t PatchModuleImports(HMODULE module, const PatchTable& table);

// Patches every module loaded in this process except those in `skip`, each
// held loaded while it is patched.
void PatchLoadedModules(const std::vector<HMODULE>& skip, const PatchTable& table);

}  // namespace hook
