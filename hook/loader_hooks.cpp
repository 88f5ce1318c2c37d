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

}  // namespace

FARPROC WINAPI HookGetProcAddress(HMODULE module, LPCSTR name)
{
    const FARPROC found = GetProcAddress(module, name);
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
