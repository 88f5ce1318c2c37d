// injection/start_stub.h
// The machine code queued as the child's first asynchronous procedure call,
// with the child's StartBlock as its argument. It loads the library by its
// wide path, finds the start function, calls it with the block, and ends the
// process when any of the three fails: a child never runs on uncovered
// because the library was missing, broken or refused.
#pragma once

#include <cstddef>
#include <cstdint>

namespace injection {

// The stub of this build's width; position independent.
const std::uint8_t* StartStubCode();
std::size_t StartStubSize();

// What a program already running gets in place of TerminateProcess: takes
// the same two arguments, ends nothing and returns 0, so that the stub's
// thread ends with exit code 0 when the library failed (1 when it started).
const std::uint8_t* KeepRunningCode();
std::size_t KeepRunningSize();

}  // namespace injection
