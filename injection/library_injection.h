// injection/library_injection.h
// Puts the hook library into a process that was created suspended, before
// any of the program's own code runs: the start stub (start_stub.h) is queued
// as an asynchronous procedure call on the main thread, which runs it once the
// process has initialised and before the program's entry point. A process of
// the other width is handed to the other width's launcher.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "injection/handoff.h"

namespace injection {

// Whether the process runs with this process's pointer width. False when the
// process cannot be asked.
bool QuerySameWidth(HANDLE process, bool& same);

// Writes the stub and its block into a suspended process of this width and
// queues the stub on its thread. Both stay in the process: they are used
// only after the thread is resumed. readyEvent is a handle value valid in
// that process (or 0).
bool QueueLibraryStart(HANDLE process, HANDLE thread, const std::wstring& libraryPath,
                       const Handoff& handoff, std::uint64_t readyEvent);

// Queues the start here when the widths match, else has the other launcher
// from the folder of ownModule do it, and waits for that. The caller resumes
// the thread. False when neither worked; the caller must then not let the
// process run.
bool AttachHookLibrary(const PROCESS_INFORMATION& child, void* ownModule, const Handoff& handoff,
                       std::uint64_t readyEvent);

}  // namespace injection
