// hook/never_destroyed.h
// State the replacements use lives as long as the process: another thread
// may still be inside a replacement while the process runs its exit
// destructors, so the object is built once and its destructor never runs.
#pragma once

#include <new>
#include <utility>

namespace hook {

template <typename T>
class NeverDestroyed {
public:
    template <typename... Args>
    explicit NeverDestroyed(Args&&... args)
    {
        new (m_storage) T(std::forward<Args>(args)...);
    }
    NeverDestroyed(const NeverDestroyed&) = delete;
    NeverDestroyed& operator=(const NeverDestroyed&) = delete;

    T& Get() { return *reinterpret_cast<T*>(m_storage); }

private:
    alignas(T) unsigned char m_storage[sizeof(T)];
};

}  // namespace hook
