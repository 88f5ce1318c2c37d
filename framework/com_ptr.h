// framework/com_ptr.h
#pragma once

#include <unknwn.h>

#include <utility>

// Sole owner of one reference to a COM interface, released on destruction.
template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    Interface* Get() const { return m_p; }
    Interface* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For functions that hand out a new reference through an out parameter.
    Interface** Out()
    {
        Reset();
        return &m_p;
    }
    void Reset()
    {
        if (m_p)
            m_p->Release();
        m_p = nullptr;
    }
    // Another interface of the same object, or an empty owner.
    template <typename Other>
    ComPtr<Other> As(REFIID iid) const
    {
        ComPtr<Other> other;
        if (m_p)
            m_p->QueryInterface(iid, reinterpret_cast<void**>(other.Out()));
        return other;
    }

private:
    Interface* m_p = nullptr;
};
