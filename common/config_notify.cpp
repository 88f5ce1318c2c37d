// common/config_notify.cpp
#include "common/config_notify.h"

#include <cstdint>

#include "common/registry_key.h"

void NotifyConfigChanged()
{
    CRegistryKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, kChangeCounterKey, false))
        return;
    std::uint32_t counter = 0;
    key.ReadDword(kChangeCounterValue, counter);
    key.WriteDword(kChangeCounterValue, counter + 1u);
    key.Close();
}
