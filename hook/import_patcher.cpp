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

void* ReplacementFor(ULONG_PTR value, const PatchTable& table)
{
    for (std::size_t i = 0; i < table.count; ++i) {
        if (value == reinterpret_cast<ULONG_PTR>(table.redirects[i].original))
            return table.redirects[i].replacement;
    }
    return nullptr;
}

// Two threads patching one page must not interleave their protection
// changes: one could restore read-only under the other's write. Held only
// around the write, never while the loader's lock is taken.
SRWLOCK g_slotLock = SRWLOCK_INIT;

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
    AcquireSRWLockExclusive(&g_slotLock);
    DWORD previous = 0;
    if (!VirtualProtect(slot, sizeof *slot, writable, &previous)) {
        ReleaseSRWLockExclusive(&g_slotLock);
        return false;
    }
    // One aligned pointer-size store: a thread calling through the slot sees
    // the old or the new address, never a mixture.
    InterlockedExchangePointer(reinterpret_cast<void* volatile*>(slot), value);
    VirtualProtect(slot, sizeof *slot, previous, &previous);
    ReleaseSRWLockExclusive(&g_slotLock);
    return true;
}

// The delay-load table, for modules that have one. Old images give virtual
// addresses instead of offsets.
const IMAGE_DELAYLOAD_DESCRIPTOR* DelayDirectory(HMODULE module, DWORD& imageSize,
                                                 ULONG_PTR& preferredBase)
{
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT)
        return nullptr;
    imageSize = nt->OptionalHeader.SizeOfImage;
    preferredBase = static_cast<ULONG_PTR>(nt->OptionalHeader.ImageBase);
    const IMAGE_DATA_DIRECTORY& delayed =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
    if (delayed.VirtualAddress == 0 || delayed.VirtualAddress >= imageSize)
        return nullptr;
    return reinterpret_cast<const IMAGE_DELAYLOAD_DESCRIPTOR*>(base + delayed.VirtualAddress);
}

// The replacement an import asks for by name (never by ordinal), or null.
void* ByName(const BYTE* base, DWORD imageSize, const char* moduleName,
             const IMAGE_THUNK_DATA& entry, const PatchTable& table, ULONG_PTR nameOffset = 0)
{
    if (table.byName == nullptr || IMAGE_SNAP_BY_ORDINAL(entry.u1.Ordinal))
        return nullptr;
    const ULONG_PTR offset =
        static_cast<ULONG_PTR>(static_cast<DWORD>(entry.u1.AddressOfData)) - nameOffset;
    if (offset >= imageSize)
        return nullptr;
    const auto* import = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + offset);
    return table.byName(moduleName, reinterpret_cast<const char*>(import->Name));
}

std::size_t PatchDelayedImports(HMODULE module, DWORD imageSize, const PatchTable& table)
{
    ULONG_PTR preferredBase = 0;
    const IMAGE_DELAYLOAD_DESCRIPTOR* descriptor = DelayDirectory(module, imageSize, preferredBase);
    if (descriptor == nullptr)
        return 0;
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto begin = reinterpret_cast<ULONG_PTR>(base);
    std::size_t patched = 0;
    for (; descriptor->DllNameRVA != 0; ++descriptor) {
        const bool rva = (descriptor->Attributes.AllAttributes & 1) != 0;
        const auto offset = [&](DWORD value) -> ULONG_PTR {
            return rva ? value : value - static_cast<DWORD>(preferredBase);
        };
        const ULONG_PTR name = offset(descriptor->DllNameRVA);
        const ULONG_PTR iat = offset(descriptor->ImportAddressTableRVA);
        const ULONG_PTR names = offset(descriptor->ImportNameTableRVA);
        if (name >= imageSize || iat >= imageSize || names >= imageSize)
            break;
        const char* moduleName = reinterpret_cast<const char*>(base + name);
        auto* slot = reinterpret_cast<ULONG_PTR*>(base + iat);
        const auto* entry = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + names);
        for (; *slot != 0; ++slot, ++entry) {
            void* replacement = ReplacementFor(*slot, table);
            // Still pointing into the module itself: not resolved yet.
            const bool unresolved = *slot >= begin && *slot < begin + imageSize;
            if (replacement == nullptr && unresolved)
                replacement = ByName(base, imageSize, moduleName, *entry, table,
                                     rva ? 0 : static_cast<DWORD>(preferredBase));
            if (replacement != nullptr && WriteSlot(slot, replacement))
                ++patched;
        }
    }
    return patched;
}

}  // namespace

std::size_t PatchModuleImports(HMODULE module, const PatchTable& table)
{
    DWORD imageSize = 0;
    const IMAGE_IMPORT_DESCRIPTOR* descriptor = ImportDirectory(module, imageSize);
    if (descriptor == nullptr)
        return 0;
    auto* base = reinterpret_cast<BYTE*>(module);
    std::size_t patched = PatchDelayedImports(module, imageSize, table);
    for (; descriptor->Name != 0 && descriptor->FirstThunk != 0; ++descriptor) {
        if (descriptor->FirstThunk >= imageSize)
            break;
        auto* slot = reinterpret_cast<ULONG_PTR*>(base + descriptor->FirstThunk);
        // The names, where the image kept them: a function the system does
        // not export at all (the loader bound a stub that ends the program)
        // is matched by name.
        const bool named = descriptor->OriginalFirstThunk != 0 &&
                           descriptor->OriginalFirstThunk < imageSize &&
                           descriptor->Name < imageSize;
        const auto* entry =
            named ? reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk)
                  : nullptr;
        for (; *slot != 0; ++slot) {
            void* replacement = ReplacementFor(*slot, table);
            if (replacement == nullptr && entry != nullptr)
                replacement =
                    ByName(base, imageSize, reinterpret_cast<const char*>(base + descriptor->Name),
                           *entry, table);
            if (replacement != nullptr && *slot != reinterpret_cast<ULONG_PTR>(replacement) &&
                WriteSlot(slot, replacement))
                ++patched;
            if (entry != nullptr)
                ++entry;
        }
    }
    return patched;
}

void PatchLoadedModules(const std::vector<HMODULE>& skip, const PatchTable& table)
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
        if (std::find(skip.begin(), skip.end(), module) != skip.end())
            continue;
        // Held while patched: another thread may free it meanwhile, and a
        // module that is already gone is simply passed over.
        HMODULE held = nullptr;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                reinterpret_cast<LPCWSTR>(module), &held) ||
            held != module) {
            if (held != nullptr)
                FreeLibrary(held);
            continue;
        }
        PatchModuleImports(module, table);
        FreeLibrary(held);
    }
}

}  // namespace hook
