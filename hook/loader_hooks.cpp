// hook/loader_hooks.cpp
#include "hook/loader_hooks.h"

#include "hook/hook_install.h"

namespace hook {

namespace {

// Patching must not disturb what the program reads from GetLastError.
HMODULE AfterLoad(HMODULE module)
{
    const DWORD error = GetLastError();
    if (module != nullptr)
        PatchNewModules();
    SetLastError(error);
    return module;
}

// A function the system lacks but the library provides, asked for by name;
// otherwise the system's failure, its error untouched.
FARPROC MissingExport(HMODULE module, LPCSTR name)
{
    const DWORD error = GetLastError();
    char path[MAX_PATH];
    // An ordinal is a number below 64K in place of the name's address.
    if (reinterpret_cast<ULONG_PTR>(name) >> 16 == 0 ||
        GetModuleFileNameA(module, path, MAX_PATH) == 0) {
        SetLastError(error);
        return nullptr;
    }
    const char* base = path;
    for (const char* at = path; *at != '\0'; ++at) {
        if (*at == '\\' || *at == '/')
            base = at + 1;
    }
    void* const replacement = ReplacementByName(base, name);
    SetLastError(error);
    return reinterpret_cast<FARPROC>(replacement);
}

}  // namespace

FARPROC WINAPI HookGetProcAddress(HMODULE module, LPCSTR name)
{
    const FARPROC found = GetProcAddress(module, name);
    if (found == nullptr)
        return MissingExport(module, name);
    void* const replacement = ReplacementOf(reinterpret_cast<const void*>(found));
    return replacement != nullptr ? reinterpret_cast<FARPROC>(replacement) : found;
}

HMODULE WINAPI HookLoadLibraryA(LPCSTR fileName)
{
    return AfterLoad(LoadLibraryA(fileName));
}

HMODULE WINAPI HookLoadLibraryW(LPCWSTR fileName)
{
    return AfterLoad(LoadLibraryW(fileName));
}

HMODULE WINAPI HookLoadLibraryExA(LPCSTR fileName, HANDLE file, DWORD flags)
{
    return AfterLoad(LoadLibraryExA(fileName, file, flags));
}

HMODULE WINAPI HookLoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags)
{
    return AfterLoad(LoadLibraryExW(fileName, file, flags));
}

}  // namespace hook
