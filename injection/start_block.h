// injection/start_block.h
// The data a starting child receives: written into it by the process that
// starts it, read first by the start stub (start_stub.h) and then by the
// library's start function. Both sides have one width, so the layout is the
// compiler's; the stub's offsets are checked below.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "injection/handoff.h"

namespace injection {

// The library's exported start function, found by this name.
constexpr char kStartFunctionName[] = "KestrelStart";
constexpr std::size_t kMaxLibraryPath = 1024;  // characters, terminator included

// What the stub ends a process with when the library cannot be put in place,
// the same code the launcher ends with then.
constexpr DWORD kExitLibraryNotStarted = 0x4B520003;

struct StartBlock {
    // Read by the stub, at fixed offsets.
    void* loadLibraryW;
    void* getProcAddress;
    void* terminateProcess;
    char startFunction[16];
    wchar_t libraryPath[kMaxLibraryPath];
    // Read by the start function.
    std::uint32_t size;  // sizeof(StartBlock): a library of another build refuses
    std::uint32_t parentCovered;
    std::uint64_t readyEvent;  // a handle already in the child, or 0
    std::uint32_t enabled;
    std::uint32_t serverUsable;
    std::uint8_t address[4];
    std::uint32_t port;
    std::uint32_t type;
    std::uint32_t userLength;
    std::uint32_t passwordLength;
    char user[kMaxCarriedText];
    char password[kMaxCarriedText];
    std::uint32_t resident;
    wchar_t configFolder[kMaxCarriedFolder + 1];
};

// The stub's code names these offsets (start_stub.cpp).
static_assert(offsetof(StartBlock, loadLibraryW) == 0, "stub layout");
static_assert(offsetof(StartBlock, getProcAddress) == sizeof(void*), "stub layout");
static_assert(offsetof(StartBlock, terminateProcess) == 2 * sizeof(void*), "stub layout");
static_assert(offsetof(StartBlock, startFunction) == 3 * sizeof(void*), "stub layout");
static_assert(offsetof(StartBlock, libraryPath) == 3 * sizeof(void*) + 16, "stub layout");

// The start function: true when the library is in place (or deliberately
// leaves the process untouched); false ends the process.
using StartFunction = BOOL(__cdecl*)(const StartBlock* block);

// The functions the stub calls, as this process sees them: kernel32 lies at
// the same address in every process of one width. False when one is missing.
bool LoadKernelFunctions(StartBlock& block);

// Fills everything but the kernel functions. False when the path does not fit.
bool FillStartBlock(StartBlock& block, const std::wstring& libraryPath, const Handoff& handoff,
                    std::uint64_t readyEventInChild);

// The handoff the block carries.
Handoff HandoffFromBlock(const StartBlock& block);

}  // namespace injection
