// injection/child_start.cpp
#include "injection/child_start.h"

#include <cstdint>

#include "framework/handles.h"
#include "injection/library_injection.h"
#include "injection/start_block.h"

namespace injection {

namespace {

bool QueueAndRelease(const PROCESS_INFORMATION& child, void* ownModule, const Handoff& handoff,
                     bool resume)
{
    const UniqueKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE inChild = nullptr;
    // Only the child's own copy is ever set; it closes it when done.
    if (!ready || !DuplicateHandle(GetCurrentProcess(), ready.Get(), child.hProcess, &inChild,
                                   EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, 0))
        return false;
    if (!AttachHookLibrary(child, ownModule, handoff,
                           static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(inChild))))
        return false;
    if (!resume)
        return true;
    if (ResumeThread(child.hThread) == static_cast<DWORD>(-1))
        return false;
    // A child that ends first (the stub ends it when the library fails) or
    // never decides is a failed start.
    const HANDLE waited[] = {ready.Get(), child.hProcess};
    return WaitForMultipleObjects(2, waited, FALSE, kReadyTimeoutMs) == WAIT_OBJECT_0;
}

}  // namespace

bool StartWithLibrary(const PROCESS_INFORMATION& child, void* ownModule, const Handoff& handoff,
                      bool resume)
{
    if (QueueAndRelease(child, ownModule, handoff, resume))
        return true;
    // Never let a program run uncovered that was meant to be covered.
    TerminateProcess(child.hProcess, kExitLibraryNotStarted);
    return false;
}

}  // namespace injection
