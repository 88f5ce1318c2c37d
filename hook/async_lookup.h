// hook/async_lookup.h
// GetAddrInfoEx's asynchronous form, for the lookups the library answers
// itself: the call returns WSA_IO_PENDING with a handle, and a pool thread
// does the lookup, then completes the program's OVERLAPPED (its status, its
// event or its completion routine) as the system's lookup does. Cancelling
// ends an operation not yet completed with WSA_E_CANCELLED.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <functional>

namespace hook {

struct AsyncLookup {
    // Runs on the pool thread: the lookup's error, and its result in `result`.
    std::function<int(void*& result)> lookup;
    std::function<void(void* result)> release;  // for a result no longer wanted
    void** resultSlot = nullptr;                // the program's ppResult
    OVERLAPPED* overlapped = nullptr;
    void* routine = nullptr;  // the program's completion routine, or null
};

// WSA_IO_PENDING with `*handle` set (when asked for), or the error.
int StartAsyncLookup(AsyncLookup lookup, HANDLE* handle);

// True when `handle` was one of these lookups, `error` then being
// GetAddrInfoExCancel's answer.
bool CancelAsyncLookup(HANDLE handle, int& error);

}  // namespace hook
