// tests/e2e/remote_buffer.h
#pragma once

#include <windows.h>

#include <cstddef>

#include "framework/handles.h"

namespace e2e {

// Memory inside another process: messages whose parameter points at a buffer
// work across processes only when the buffer lies in the receiver.
class RemoteBuffer {
public:
    RemoteBuffer(DWORD processId, std::size_t size);
    ~RemoteBuffer();
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    bool Valid() const { return m_address != nullptr; }
    // The address as the other process sees it, offset bytes in.
    char* At(std::size_t offset) const { return static_cast<char*>(m_address) + offset; }
    bool Write(std::size_t offset, const void* data, std::size_t size);
    bool Read(std::size_t offset, void* data, std::size_t size) const;

private:
    UniqueKernelHandle m_process;
    void* m_address = nullptr;
    std::size_t m_size = 0;
};

}  // namespace e2e
