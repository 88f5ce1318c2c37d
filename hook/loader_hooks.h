// hook/loader_hooks.h
// Replacements of the loader's functions: a lookup of a replaced function
// yields its replacement, and modules loaded later are patched as they come.
#pragma once

#include <windows.h>

namespace hook {

FARPROC WINAPI HookGetProcAddress(HMODULE module, LPCSTR name);
HMODULE WINAPI HookLoadLibraryA(LPCSTR fileName);
HMODULE WINAPI HookLoadLibraryW(LPCWSTR fileName);
HMODULE WINAPI HookLoadLibraryExA(LPCSTR fileName, HANDLE file, DWORD flags);
HMODULE WINAPI HookLoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags);

}  // namespace hook
