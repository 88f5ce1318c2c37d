// hook/import_patcher.h
// Rewrites import address table slots: every slot of a module that holds the
// address of one of the original functions is made to hold its replacement.
// Slots are matched by the address they hold, not by name, so an import by
// ordinal, through a forwarder or an API set is found as well. Delay-loaded
// imports not yet resolved are matched by name and bound to the replacement
// at once, so the delay-load helper never hands out the original; so are
// imports of functions the system lacks.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

namespace hook {

struct ImportRedirect {
    const void* original;
    void* replacement;
};

// The replacement for a function a module imports by name, or null: for
// delay-loaded imports not yet resolved, and for imports the system does not
// export (bound to a loader stub).
using NamedImportLookup = void* (*)(const char* moduleName, const char* functionName);

struct PatchTable {
    const ImportRedirect* redirects;
    std::size_t count;
    NamedImportLookup byName;
};

// Patches the imports of one loaded module that nobody can unload meanwhile
// (the loader is busy loading it, or the caller holds it); returns the slots
// rewritten.
std::size_t PatchModuleImports(HMODULE module, const PatchTable& table);

// Patches every module loaded in this process except those in `skip`, each
// held loaded while it is patched.
void PatchLoadedModules(const std::vector<HMODULE>& skip, const PatchTable& table);

}  // namespace hook
