// hook/import_patcher.cpp
#include "hook/import_patcher.h"

#include <psapi.h>

#include <algorithm>
#include <vector>

namespace hook {

namespace {

// The module's image, checked before anything in it is trusted: headers of
// this process's width and an import directory inside the image.
const IMAGE_IMPORT_DESCRIPTOR* ImportDirectory(HMODULE module, DWORD& imageSize)
{
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0)
        return nullptr;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE ||
        nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC ||
        nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT)
        return nullptr;
    imageSize = nt->OptionalHeader.SizeOfImage;
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0 || imports.VirtualAddress >= imageSize)
        return nullptr;
    return reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
}

void* ReplacementFor(ULONG_PTR value, const ImportRedirect* redirects, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (value == reinterpret_cast<ULONG_PTR>(redirects[i].original))
            return redirects[i].replacement;
    }
    return nullptr;
}

// Import tables usually lie in read-only data; some linkers put them next to
// code. The slot's page keeps whatever execute right it had, so code running
// in it on another thread is never stopped.
bool WriteSlot(ULONG_PTR* slot, void* value)
{
    MEMORY_BASIC_INFORMATION page = {};
    if (VirtualQuery(slot, &page, sizeof page) != sizeof page)
        return false;
    const DWORD executable =
        PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    const DWORD writable =
        (page.Protect & executable) != 0 ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE;
    DWORD previous = 0;
    if (!VirtualProtect(slot, sizeof *slot, writable, &previous))
        return false;
    // One aligned pointer-size store: a thread calling through the slot sees
    // the old or the new address, never a mixture.
    InterlockedExchangePointer(reinterpret_cast<void* volatile*>(slot), value);
    VirtualProtect(slot, sizeof *slot, previous, &previous);
    return true;
}

}  // namespace

std::size_t PatchModuleImports(HMODULE module, const ImportRedirect* redirects, std::size_t count)
{
    DWORD imageSize = 0;
    const IMAGE_IMPORT_DESCRIPTOR* descriptor = ImportDirectory(module, imageSize);
    if (descriptor == nullptr)
        return 0;
    auto* base = reinterpret_cast<BYTE*>(module);
    std::size_t patched = 0;
    for (; descriptor->Name != 0 && descriptor->FirstThunk != 0; ++descriptor) {
        if (descriptor->FirstThunk >= imageSize)
            break;
        auto* slot = reinterpret_cast<ULONG_PTR*>(base + descriptor->FirstThunk);
        for (; *slot != 0; ++slot) {
            void* replacement = ReplacementFor(*slot, redirects, count);
            if (replacement != nullptr && WriteSlot(slot, replacement))
                ++patched;
        }
    }
    return patched;
}

void PatchLoadedModules(const std::vector<HMODULE>& skip, const ImportRedirect* redirects,
                        std::size_t count)
{
    std::vector<HMODULE> modules(256);
    for (;;) {
        DWORD needed = 0;
        const DWORD size = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
        if (!K32EnumProcessModules(GetCurrentProcess(), modules.data(), size, &needed))
            return;
        if (needed <= size) {
            modules.resize(needed / sizeof(HMODULE));
            break;
        }
        modules.resize(needed / sizeof(HMODULE) + 16);
    }
    for (HMODULE module : modules) {
        if (std::find(skip.begin(), skip.end(), module) == skip.end())
            PatchModuleImports(module, redirects, count);
    }
}

}  // namespace hook
