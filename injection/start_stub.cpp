// injection/start_stub.cpp
// The stub's bytes, assembled with the MinGW assembler (`as`, Intel syntax)
// and read back with `objdump -d -M intel`; the assembly is beside them. The
// offsets into the block are checked in start_block.h.
#include "injection/start_stub.h"

#include "injection/start_block.h"

namespace injection {

namespace {

#ifdef _WIN64
// An APC routine in the Win64 convention: rcx = block. rbx keeps the block
// across calls; the push and the 32 bytes of shadow space leave rsp 16-byte
// aligned at every call.
const std::uint8_t kStub[] = {
    0x53,                                      // push rbx
    0x48, 0x83, 0xec, 0x20,                    // sub  rsp, 0x20
    0x48, 0x89, 0xcb,                          // mov  rbx, rcx
    0x48, 0x8d, 0x4b, 0x28,                    // lea  rcx, [rbx+0x28]   ; libraryPath
    0xff, 0x13,                                // call [rbx]             ; LoadLibraryW
    0x48, 0x85, 0xc0,                          // test rax, rax
    0x74, 0x1e,                                // je   fail
    0x48, 0x89, 0xc1,                          // mov  rcx, rax
    0x48, 0x8d, 0x53, 0x18,                    // lea  rdx, [rbx+0x18]   ; startFunction
    0xff, 0x53, 0x08,                          // call [rbx+0x8]         ; GetProcAddress
    0x48, 0x85, 0xc0,                          // test rax, rax
    0x74, 0x0f,                                // je   fail
    0x48, 0x89, 0xd9,                          // mov  rcx, rbx
    0xff, 0xd0,                                // call rax               ; start(block)
    0x85, 0xc0,                                // test eax, eax
    0x74, 0x06,                                // je   fail
    0x48, 0x83, 0xc4, 0x20,                    // add  rsp, 0x20
    0x5b,                                      // pop  rbx
    0xc3,                                      // ret
    0x48, 0xc7, 0xc1, 0xff, 0xff, 0xff, 0xff,  // fail: mov rcx, -1      ; this process
    0xba, 0x03, 0x00, 0x52, 0x4b,              // mov  edx, 0x4b520003
    0xff, 0x53, 0x10,                          // call [rbx+0x10]        ; TerminateProcess
    0x48, 0x83, 0xc4, 0x20,                    // add  rsp, 0x20
    0x5b,                                      // pop  rbx
    0xc3,                                      // ret
};
static_assert(offsetof(StartBlock, libraryPath) == 0x28, "stub offsets");
static_assert(offsetof(StartBlock, startFunction) == 0x18, "stub offsets");
#else
// An APC routine, stdcall: the block at [esp+4], popped on return. The
// kernel functions are stdcall; the start function is cdecl.
const std::uint8_t kStub[] = {
    0x53,                          // push ebx
    0x8b, 0x5c, 0x24, 0x08,        // mov  ebx, [esp+0x8]
    0x8d, 0x43, 0x1c,              // lea  eax, [ebx+0x1c]   ; libraryPath
    0x50,                          // push eax
    0xff, 0x13,                    // call [ebx]             ; LoadLibraryW
    0x85, 0xc0,                    // test eax, eax
    0x74, 0x1a,                    // je   fail
    0x8d, 0x4b, 0x0c,              // lea  ecx, [ebx+0xc]    ; startFunction
    0x51,                          // push ecx
    0x50,                          // push eax
    0xff, 0x53, 0x04,              // call [ebx+0x4]         ; GetProcAddress
    0x85, 0xc0,                    // test eax, eax
    0x74, 0x0e,                    // je   fail
    0x53,                          // push ebx
    0xff, 0xd0,                    // call eax               ; start(block)
    0x83, 0xc4, 0x04,              // add  esp, 0x4
    0x85, 0xc0,                    // test eax, eax
    0x74, 0x04,                    // je   fail
    0x5b,                          // pop  ebx
    0xc2, 0x04, 0x00,              // ret  0x4
    0x68, 0x03, 0x00, 0x52, 0x4b,  // fail: push 0x4b520003
    0x6a, 0xff,                    // push -1                ; this process
    0xff, 0x53, 0x08,              // call [ebx+0x8]         ; TerminateProcess
    0x5b,                          // pop  ebx
    0xc2, 0x04, 0x00,              // ret  0x4
};
static_assert(offsetof(StartBlock, libraryPath) == 0x1c, "stub offsets");
static_assert(offsetof(StartBlock, startFunction) == 0xc, "stub offsets");
#endif
static_assert(kExitLibraryNotStarted == 0x4B520003, "the code in the stub");

#ifdef _WIN64
const std::uint8_t kKeepRunning[] = {
    0x31, 0xc0,  // xor eax, eax
    0xc3,        // ret
};
#else
const std::uint8_t kKeepRunning[] = {
    0x31, 0xc0,        // xor eax, eax
    0xc2, 0x08, 0x00,  // ret 0x8                  ; stdcall, two arguments
};
#endif

}  // namespace

const std::uint8_t* StartStubCode()
{
    return kStub;
}

std::size_t StartStubSize()
{
    return sizeof kStub;
}

const std::uint8_t* KeepRunningCode()
{
    return kKeepRunning;
}

std::size_t KeepRunningSize()
{
    return sizeof kKeepRunning;
}

}  // namespace injection
