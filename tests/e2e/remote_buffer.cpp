// tests/e2e/remote_buffer.cpp
#include "tests/e2e/remote_buffer.h"

namespace e2e {

RemoteBuffer::RemoteBuffer(DWORD processId, std::size_t size)
    : m_process(
          OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId)),
      m_size(size)
{
    if (m_process)
        m_address = VirtualAllocEx(m_process.Get(), nullptr, size, MEM_COMMIT | MEM_RESERVE,
                                   PAGE_READWRITE);
}

RemoteBuffer::~RemoteBuffer()
{
    if (m_address != nullptr)
        VirtualFreeEx(m_process.Get(), m_address, 0, MEM_RELEASE);
}

bool RemoteBuffer::Write(std::size_t offset, const void* data, std::size_t size)
{
    SIZE_T written = 0;
    return Valid() && offset + size <= m_size &&
           WriteProcessMemory(m_process.Get(), At(offset), data, size, &written) && written == size;
}

bool RemoteBuffer::Read(std::size_t offset, void* data, std::size_t size) const
{
    SIZE_T read = 0;
    return Valid() && offset + size <= m_size &&
           ReadProcessMemory(m_process.Get(), At(offset), data, size, &read) && read == size;
}

}  // namespace e2e
