// hook/process_hooks.h
// Replacements of CreateProcessA/W and CreateProcessAsUserA/W: a covered
// program's children start with the library (of their width) too, told that
// their parent is covered and which server it uses; they decide for
// themselves from client.db, and are covered whenever they cannot read it.
// A carrier's children (and a shell's) get it only while the agent says
// proxying is on, told nothing but where client.db is.
#pragma once

#include <windows.h>

namespace hook {

BOOL WINAPI HookCreateProcessA(LPCSTR application, LPSTR commandLine,
                               LPSECURITY_ATTRIBUTES processAttributes,
                               LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                               DWORD flags, LPVOID environment, LPCSTR currentDirectory,
                               LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info);
BOOL WINAPI HookCreateProcessW(LPCWSTR application, LPWSTR commandLine,
                               LPSECURITY_ATTRIBUTES processAttributes,
                               LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                               DWORD flags, LPVOID environment, LPCWSTR currentDirectory,
                               LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info);
BOOL WINAPI HookCreateProcessAsUserA(HANDLE token, LPCSTR application, LPSTR commandLine,
                                     LPSECURITY_ATTRIBUTES processAttributes,
                                     LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                     DWORD flags, LPVOID environment, LPCSTR currentDirectory,
                                     LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info);
BOOL WINAPI HookCreateProcessAsUserW(HANDLE token, LPCWSTR application, LPWSTR commandLine,
                                     LPSECURITY_ATTRIBUTES processAttributes,
                                     LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                     DWORD flags, LPVOID environment, LPCWSTR currentDirectory,
                                     LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info);

}  // namespace hook
