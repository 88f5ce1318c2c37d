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

}  // namespace injection
