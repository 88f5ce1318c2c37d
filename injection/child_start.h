// injection/child_start.h
// Starting a program with the library: the step after CreateProcess with
// CREATE_SUSPENDED that the launcher and a covered program's CreateProcess
// replacements share. The library is queued (library_injection.h), the
// thread resumed, and the caller waits until the library has decided,
// which it signals through an event duplicated into the child.
#pragma once

#include <windows.h>

#include "injection/handoff.h"

namespace injection {

// How long a resumed child may take to reach that decision: the library
// waits at most a second for client.db, so only a process that hangs or
// dies while starting comes near it.
constexpr DWORD kReadyTimeoutMs = 10000;

// True once the child has signalled that the library decided (covered and
// in place, or untouched). When the caller asked for the child to stay
// suspended (`resume` false) nothing can be waited for: true once the start
// is queued, and the queued stub ends the child itself should the library
// fail. On false the child has been ended with kExitLibraryNotStarted; the
// caller still owns (and closes) its handles.
bool StartWithLibrary(const PROCESS_INFORMATION& child, void* ownModule, const Handoff& handoff,
                      bool resume);

}  // namespace injection
