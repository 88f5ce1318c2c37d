// framework/handles.h
#pragma once

#include <windows.h>

#include <utility>

// Sole owner of one system handle, released with Release on destruction.
template <typename Handle, BOOL(WINAPI* Release)(Handle)>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : m_handle(handle) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr))
    {
    }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Handle Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    void Reset(Handle handle = nullptr)
    {
        if (m_handle)
            Release(m_handle);
        m_handle = handle;
    }

private:
    Handle m_handle = nullptr;
};

// Kernel objects; the user-interface ones are in framework/gui_handles.h.
using UniqueKernelHandle = UniqueHandle<HANDLE, CloseHandle>;
