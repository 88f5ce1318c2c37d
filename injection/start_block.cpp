// injection/start_block.cpp
#include "injection/start_block.h"

#include <cstring>

namespace injection {

bool LoadKernelFunctions(StartBlock& block)
{
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr)
        return false;
    block.loadLibraryW = reinterpret_cast<void*>(GetProcAddress(kernel, "LoadLibraryW"));
    block.getProcAddress = reinterpret_cast<void*>(GetProcAddress(kernel, "GetProcAddress"));
    block.terminateProcess = reinterpret_cast<void*>(GetProcAddress(kernel, "TerminateProcess"));
    return block.loadLibraryW != nullptr && block.getProcAddress != nullptr &&
           block.terminateProcess != nullptr;
}

bool FillStartBlock(StartBlock& block, const std::wstring& libraryPath, const Handoff& original,
                    std::uint64_t readyEventInChild)
{
    if (libraryPath.empty() || libraryPath.size() >= kMaxLibraryPath)
        return false;
    static_assert(sizeof kStartFunctionName <= sizeof block.startFunction, "name fits");
    std::memcpy(block.startFunction, kStartFunctionName, sizeof kStartFunctionName);
    std::memcpy(block.libraryPath, libraryPath.c_str(), (libraryPath.size() + 1) * sizeof(wchar_t));
    const Handoff handoff = Carried(original);
    block.size = sizeof(StartBlock);
    block.parentCovered = handoff.parentCovered;
    block.readyEvent = readyEventInChild;
    block.enabled = handoff.enabled;
    block.serverUsable = handoff.serverUsable;
    std::memcpy(block.address, handoff.address.data(), sizeof block.address);
    block.port = handoff.port;
    block.type = handoff.type;
    block.userLength = static_cast<std::uint32_t>(handoff.user.size());
    block.passwordLength = static_cast<std::uint32_t>(handoff.password.size());
    std::memcpy(block.user, handoff.user.data(), handoff.user.size());
    std::memcpy(block.password, handoff.password.data(), handoff.password.size());
    block.resident = handoff.resident;
    std::memcpy(block.configFolder, handoff.configFolder.c_str(),
                (handoff.configFolder.size() + 1) * sizeof(wchar_t));
    return true;
}

Handoff HandoffFromBlock(const StartBlock& block)
{
    Handoff handoff;
    handoff.parentCovered = block.parentCovered != 0;
    handoff.enabled = block.enabled != 0;
    handoff.serverUsable = block.serverUsable != 0;
    std::memcpy(handoff.address.data(), block.address, sizeof block.address);
    handoff.port = static_cast<std::uint16_t>(block.port);
    handoff.type = static_cast<std::uint8_t>(block.type);
    // Lengths come from another process: never read past the arrays.
    if (block.userLength <= kMaxCarriedText && block.passwordLength <= kMaxCarriedText) {
        handoff.user.assign(block.user, block.userLength);
        handoff.password.assign(block.password, block.passwordLength);
    } else {
        handoff.serverUsable = false;
    }
    handoff.resident = block.resident != 0;
    // Written by another process: ends at the array's end whatever it holds.
    std::size_t length = 0;
    while (length < kMaxCarriedFolder && block.configFolder[length] != L'\0')
        ++length;
    handoff.configFolder.assign(block.configFolder, length);
    return handoff;
}

}  // namespace injection
