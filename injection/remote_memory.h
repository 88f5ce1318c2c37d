// injection/remote_memory.h
// Memory allocated in another process, released unless kept.
#pragma once

#include <windows.h>

namespace injection {

class RemoteMemory {
public:
    RemoteMemory(HANDLE process, SIZE_T size)
        : m_process(process),
          m_address(
              VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
    {
    }
    ~RemoteMemory()
    {
        if (m_address != nullptr)
            VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    void* Get() const { return m_address; }
    // Writes all of size bytes at the start of the allocation.
    bool Write(const void* data, SIZE_T size) const
    {
        SIZE_T written = 0;
        return m_address != nullptr &&
               WriteProcessMemory(m_process, m_address, data, size, &written) && written == size;
    }
    // The process owns it from now on: it is used after the writer is gone.
    void Keep() { m_address = nullptr; }

private:
    HANDLE m_process;
    void* m_address;
};

}  // namespace injection
