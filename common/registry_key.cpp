// common/registry_key.cpp
#include "common/registry_key.h"

CRegistryKey::~CRegistryKey()
{
    Close();
}

bool CRegistryKey::Open(HKEY root, const char* subKey, bool readOnly)
{
    Close();
    const REGSAM access = readOnly ? KEY_READ : KEY_ALL_ACCESS;
    DWORD disposition = 0;
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key,
                        &disposition) != ERROR_SUCCESS)
        return false;
    m_key = key;
    return true;
}

LONG CRegistryKey::Close()
{
    if (!m_key)
        return 0;
    const LONG result = RegCloseKey(m_key);
    m_key = nullptr;
    return result;
}

bool CRegistryKey::ReadDword(const char* name, std::uint32_t& value) const
{
    if (!m_key || !name)
        return false;
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExA(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
        ERROR_SUCCESS)
        return false;
    // A shorter value would leave part of the number unset; anything but a
    // 4-byte REG_DWORD is not a counter we wrote.
    if (type != REG_DWORD || size != sizeof data)
        return false;
    value = data;
    return true;
}

bool CRegistryKey::WriteDword(const char* name, std::uint32_t value)
{
    if (!m_key || !name)
        return false;
    const DWORD data = value;
    return RegSetValueExA(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof data) == ERROR_SUCCESS;
}
