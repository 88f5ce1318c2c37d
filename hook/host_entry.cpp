// hook/host_entry.cpp
#include "hook/host_entry.h"

#include <windows.h>

#include <cstring>

namespace hook {

namespace {

struct HostEntry {
    hostent entry;
    char* aliases[1];
    char* addresses[2];
    in_addr address;
    char name[256];
};

VOID WINAPI FreeEntry(PVOID entry)
{
    if (entry != nullptr)
        HeapFree(GetProcessHeap(), 0, entry);
}

// Fiber-local, so that the entry is freed when its thread ends.
DWORD Slot()
{
    static const DWORD slot = FlsAlloc(&FreeEntry);
    return slot;
}

}  // namespace

hostent* ThreadHostEntry(const std::string& name, std::uint32_t address)
{
    const DWORD slot = Slot();
    if (slot == FLS_OUT_OF_INDEXES || name.size() >= sizeof(HostEntry::name))
        return nullptr;
    auto* entry = static_cast<HostEntry*>(FlsGetValue(slot));
    if (entry == nullptr) {
        entry = static_cast<HostEntry*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *entry));
        if (entry == nullptr || !FlsSetValue(slot, entry)) {
            FreeEntry(entry);
            return nullptr;
        }
    }
    std::memcpy(entry->name, name.c_str(), name.size() + 1);
    entry->address.s_addr = htonl(address);
    entry->aliases[0] = nullptr;
    entry->addresses[0] = reinterpret_cast<char*>(&entry->address);
    entry->addresses[1] = nullptr;
    entry->entry.h_name = entry->name;
    entry->entry.h_aliases = entry->aliases;
    entry->entry.h_addrtype = AF_INET;
    entry->entry.h_length = sizeof(in_addr);
    entry->entry.h_addr_list = entry->addresses;
    return &entry->entry;
}

}  // namespace hook
