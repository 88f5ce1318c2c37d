// injection/resident_start.cpp
#include "injection/resident_start.h"

#include <memory>

#include "framework/handles.h"
#include "injection/remote_memory.h"
#include "injection/start_block.h"
#include "injection/start_stub.h"

namespace injection {

bool StartInRunningProcess(HANDLE process, const std::wstring& libraryPath,
                           const Handoff& handoff)
{
    const auto block = std::make_unique<StartBlock>();
    if (!LoadKernelFunctions(*block) || !FillStartBlock(*block, libraryPath, handoff, 0))
        return false;
    const SIZE_T codeSize = StartStubSize() + KeepRunningSize();
    RemoteMemory data(process, sizeof(StartBlock));
    RemoteMemory code(process, codeSize);
    if (code.Get() == nullptr)
        return false;
    block->terminateProcess = static_cast<std::uint8_t*>(code.Get()) + StartStubSize();
    std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[codeSize]);
    std::copy(StartStubCode(), StartStubCode() + StartStubSize(), bytes.get());
    std::copy(KeepRunningCode(), KeepRunningCode() + KeepRunningSize(),
              bytes.get() + StartStubSize());
    DWORD previous = 0;
    if (!data.Write(block.get(), sizeof(StartBlock)) || !code.Write(bytes.get(), codeSize) ||
        !VirtualProtectEx(process, code.Get(), codeSize, PAGE_EXECUTE_READ, &previous) ||
        !FlushInstructionCache(process, code.Get(), codeSize))
        return false;
    const UniqueKernelHandle thread(CreateRemoteThread(
        process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(code.Get()), data.Get(), 0,
        nullptr));
    if (!thread)
        return false;
    DWORD exitCode = 0;
    if (WaitForSingleObject(thread.Get(), kResidentStartTimeoutMs) != WAIT_OBJECT_0) {
        // Still running in there: what it uses must stay.
        data.Keep();
        code.Keep();
        return false;
    }
    return GetExitCodeThread(thread.Get(), &exitCode) && exitCode == 1;
}

std::wstring CarrierMarkerName(DWORD processId)
{
    return L"Local\\KestrelCarrier." + std::to_wstring(processId);
}

bool IsCarrying(DWORD processId)
{
    const UniqueKernelHandle marker(
        OpenEventW(SYNCHRONIZE, FALSE, CarrierMarkerName(processId).c_str()));
    return static_cast<bool>(marker);
}

}  // namespace injection
