// hook/import_patcher.h
// Rewrites import address table slots: every slot of a module that holds the
// address of one of the original functions is made to hold its replacement.
// Slots are matched by the address they hold, not by name, so an import by
// ordinal, through a forwarder or an API set is found as well.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

namespace hook {

struct ImportRedirect {
    const void* original;
    void* replacement;
};

// Patches the imports of one loaded module; returns the slots rewritten.
std::size_t PatchModuleImports(HMODULE module, const ImportRedirect* redirects, std::size_t count);

// Patches every module loaded in this process except those in `skip`.
void PatchLoadedModules(const std::vector<HMODULE>& skip, const ImportRedirect* redirects,
                        std::size_t count);

}  // namespace hook
