// hook/host_entry.h
// The hostent that gethostbyname and gethostbyaddr return for a name the
// proxy resolves: as the system's, it belongs to the calling thread and
// stays valid until that thread's next call.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <string>

namespace hook {

// One name with one IPv4 address (host order); null when out of memory.
hostent* ThreadHostEntry(const std::string& name, std::uint32_t address);

}  // namespace hook
