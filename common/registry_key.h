// common/registry_key.h
#pragma once

#include <windows.h>

#include <cstdint>

// One open registry key, closed by its owner at the latest on destruction.
class CRegistryKey {
public:
    CRegistryKey() = default;
    ~CRegistryKey();
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    // Opens root\subKey, creating it when missing, for reading only or with
    // full access. True on success.
    bool Open(HKEY root, const char* subKey, bool readOnly);
    // The result of RegCloseKey, or 0 when nothing was open.
    LONG Close();
    bool IsOpen() const { return m_key != nullptr; }

    // False when no key is open, the name is missing, or the value is not a
    // 4-byte REG_DWORD; value is then left as it was.
    bool ReadDword(const char* name, std::uint32_t& value) const;
    bool WriteDword(const char* name, std::uint32_t value);

private:
    HKEY m_key = nullptr;
};
