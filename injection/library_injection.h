// injection/library_injection.h
// Loads the hook library into a process that was created suspended, before any
// of the program's own code runs: the library loader is queued as an
// asynchronous procedure call on the main thread, which runs it once the
// process has initialised and before the program's entry point. A process of
// the other width is handed to the other width's launcher.
#pragma once

#include <windows.h>

#include <string>

namespace injection {

// Whether the process runs with this process's pointer width. False when the
// process cannot be asked.
bool QuerySameWidth(HANDLE process, bool& same);

// Queues LoadLibraryA(libraryPath) on the suspended thread of a process of
// this width. The path text stays in the process: it cannot be freed before
// the call has run, which happens only after the thread is resumed.
bool QueueLibraryLoad(HANDLE process, HANDLE thread, const std::string& libraryPath);

// Prepares a suspended process for the hook library: queued here when the
// widths match, else by the other launcher from the folder of ownModule,
// waited for. The caller resumes the thread. False when neither worked; the
// caller must then not let the process run.
bool AttachHookLibrary(const PROCESS_INFORMATION& child, void* ownModule);

}  // namespace injection
