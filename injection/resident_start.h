// injection/resident_start.h
// Putting the library into a program that is already running (a shell): the
// start stub runs on a thread made for it in the program, and where it would
// end a starting child it ends nothing, so a library that cannot start leaves
// the program as it was. A library started this way holds a named marker for
// the program's life, so that it is never put in twice.
#pragma once

#include <windows.h>

#include <string>

#include "injection/handoff.h"

namespace injection {

// A start never takes this long: the library reads client.db (waiting a
// second at most for a writer) and patches the modules loaded.
constexpr DWORD kResidentStartTimeoutMs = 10000;

// What the start needs of the process's handle.
constexpr DWORD kResidentStartAccess = PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                                       PROCESS_VM_OPERATION | PROCESS_VM_WRITE |
                                       PROCESS_VM_READ | SYNCHRONIZE;

// True once the library's start function returned TRUE in the process, a
// process of this build's width opened with kResidentStartAccess.
bool StartInRunningProcess(HANDLE process, const std::wstring& libraryPath,
                           const Handoff& handoff);

// The marker's name for a process.
std::wstring CarrierMarkerName(DWORD processId);
// Whether the process already carries the library.
bool IsCarrying(DWORD processId);

}  // namespace injection
