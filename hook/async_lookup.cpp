// hook/async_lookup.cpp
#include "hook/async_lookup.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "hook/never_destroyed.h"

namespace hook {

namespace {

using CompletionRoutine = void(CALLBACK*)(DWORD error, DWORD bytes, LPWSAOVERLAPPED overlapped);

struct Operation {
    AsyncLookup lookup;
    bool cancelled = false;
};

// The operations still running, by handle (their own address).
struct Running {
    SRWLOCK lock = SRWLOCK_INIT;
    std::vector<Operation*> operations;
};

Running& Operations()
{
    static NeverDestroyed<Running> running;
    return running.Get();
}

// True when it was cancelled meanwhile; it is no longer cancellable after.
bool Retire(Operation* operation)
{
    Running& running = Operations();
    AcquireSRWLockExclusive(&running.lock);
    auto& list = running.operations;
    list.erase(std::remove(list.begin(), list.end(), operation), list.end());
    const bool cancelled = operation->cancelled;
    ReleaseSRWLockExclusive(&running.lock);
    return cancelled;
}

DWORD WINAPI Run(void* context)
{
    std::unique_ptr<Operation> operation(static_cast<Operation*>(context));
    AsyncLookup& lookup = operation->lookup;
    void* result = nullptr;
    int error = lookup.lookup(result);
    if (Retire(operation.get())) {
        if (result != nullptr)
            lookup.release(result);
        result = nullptr;
        error = WSA_E_CANCELLED;
    }
    *lookup.resultSlot = result;
    // The status GetAddrInfoExOverlappedResult reads.
    lookup.overlapped->Internal = static_cast<ULONG_PTR>(error);
    if (lookup.routine != nullptr)
        reinterpret_cast<CompletionRoutine>(lookup.routine)(static_cast<DWORD>(error), 0,
                                                            lookup.overlapped);
    else if (lookup.overlapped->hEvent != nullptr)
        SetEvent(lookup.overlapped->hEvent);
    return 0;
}

}  // namespace

int StartAsyncLookup(AsyncLookup lookup, HANDLE* handle)
{
    if (lookup.resultSlot == nullptr || lookup.overlapped == nullptr)
        return WSAEINVAL;
    std::unique_ptr<Operation> operation;
    try {
        operation.reset(new Operation{std::move(lookup), false});
        Running& running = Operations();
        AcquireSRWLockExclusive(&running.lock);
        try {
            running.operations.push_back(operation.get());
        } catch (...) {
            ReleaseSRWLockExclusive(&running.lock);
            throw;
        }
        ReleaseSRWLockExclusive(&running.lock);
    } catch (...) {
        return WSA_NOT_ENOUGH_MEMORY;
    }
    Operation* const started = operation.get();
    *started->lookup.resultSlot = nullptr;
    started->lookup.overlapped->Internal = WSAEINPROGRESS;
    if (handle != nullptr)
        *handle = started;
    if (!QueueUserWorkItem(&Run, started, WT_EXECUTEDEFAULT)) {
        Retire(started);
        return WSA_NOT_ENOUGH_MEMORY;
    }
    operation.release();  // the pool thread's now
    return WSA_IO_PENDING;
}

bool CancelAsyncLookup(HANDLE handle, int& error)
{
    Running& running = Operations();
    AcquireSRWLockExclusive(&running.lock);
    const auto& list = running.operations;
    const auto found = std::find(list.begin(), list.end(), static_cast<Operation*>(handle));
    const bool ours = found != list.end();
    if (ours)
        (*found)->cancelled = true;
    ReleaseSRWLockExclusive(&running.lock);
    error = 0;
    return ours;
}

}  // namespace hook
