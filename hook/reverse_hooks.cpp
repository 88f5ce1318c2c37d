// hook/reverse_hooks.cpp
#include "hook/reverse_hooks.h"

#include <cstring>
#include <string>

#include "hook/host_entry.h"
#include "hook/name_resolution.h"
#include "hook/name_table.h"

namespace hook {

namespace {

int Fail(int error)
{
    WSASetLastError(error);
    return error;
}

enum class Reverse {
    System,   // not a reserved address, or only its numeric text is asked for
    Numeric,  // reserved, but no longer held: its numeric text
    Name,     // `name` is the answer
};

Reverse Classify(const sockaddr* address, int length, bool hostWanted, int flags,
                 std::string& name)
{
    const std::uint32_t reserved = ReservedAddressOf(address, length);
    if (reserved == 0 || !hostWanted || (flags & NI_NUMERICHOST) != 0)
        return Reverse::System;
    return NameForAddress(reserved, name) ? Reverse::Name : Reverse::Numeric;
}

}  // namespace

int WSAAPI HookGetnameinfo(const sockaddr* address, socklen_t length, char* host,
                           DWORD hostLength, char* service, DWORD serviceLength, int flags)
{
    std::string name;
    switch (Classify(address, length, host != nullptr && hostLength > 0, flags, name)) {
    case Reverse::System:
        return getnameinfo(address, length, host, hostLength, service, serviceLength, flags);
    case Reverse::Numeric:
        if ((flags & NI_NAMEREQD) != 0)
            return Fail(WSAHOST_NOT_FOUND);
        return getnameinfo(address, length, host, hostLength, service, serviceLength,
                           flags | NI_NUMERICHOST);
    case Reverse::Name:
        break;
    }
    if (service != nullptr && serviceLength > 0) {
        if (const int error =
                getnameinfo(address, length, nullptr, 0, service, serviceLength, flags))
            return error;
    }
    if (name.size() >= hostLength)
        return Fail(WSAEFAULT);
    std::memcpy(host, name.c_str(), name.size() + 1);
    return 0;
}

INT WSAAPI HookGetNameInfoW(const SOCKADDR* address, socklen_t length, PWCHAR host,
                            DWORD hostLength, PWCHAR service, DWORD serviceLength, INT flags)
{
    std::string name;
    switch (Classify(address, length, host != nullptr && hostLength > 0, flags, name)) {
    case Reverse::System:
        return GetNameInfoW(address, length, host, hostLength, service, serviceLength, flags);
    case Reverse::Numeric:
        if ((flags & NI_NAMEREQD) != 0)
            return Fail(WSAHOST_NOT_FOUND);
        return GetNameInfoW(address, length, host, hostLength, service, serviceLength,
                            flags | NI_NUMERICHOST);
    case Reverse::Name:
        break;
    }
    if (service != nullptr && serviceLength > 0) {
        if (const INT error =
                GetNameInfoW(address, length, nullptr, 0, service, serviceLength, flags))
            return error;
    }
    if (name.size() >= hostLength)
        return Fail(WSAEFAULT);
    const std::wstring wide = Widen(name);
    std::memcpy(host, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    return 0;
}

hostent* WSAAPI HookGethostbyaddr(const char* address, int length, int type)
{
    if (address == nullptr || type != AF_INET || length < 4)
        return gethostbyaddr(address, length, type);
    sockaddr_in form{};
    form.sin_family = AF_INET;
    std::memcpy(&form.sin_addr, address, 4);
    const std::uint32_t reserved =
        ReservedAddressOf(reinterpret_cast<const sockaddr*>(&form), sizeof form);
    if (reserved == 0)
        return gethostbyaddr(address, length, type);
    std::string name;
    hostent* entry = NameForAddress(reserved, name) ? ThreadHostEntry(name, reserved) : nullptr;
    if (entry == nullptr)
        WSASetLastError(WSAHOST_NOT_FOUND);
    return entry;
}

}  // namespace hook
