// hook/name_resolution.cpp
#include "hook/name_resolution.h"

#include <windows.h>
#include <ws2tcpip.h>

#include "common/ansi_text.h"
#include "hook/local_names.h"
#include "hook/proxy_settings.h"

namespace hook {

namespace {

// Looked up, not imported: the library must load where the system has none.
int ToAscii(const wchar_t* name, wchar_t* converted, int size)
{
    using Function = int(WINAPI*)(DWORD, LPCWSTR, int, LPWSTR, int);
    static const auto function = reinterpret_cast<Function>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "IdnToAscii")));
    return function != nullptr ? function(0, name, -1, converted, size) : 0;
}

}  // namespace

std::string AsciiName(const wchar_t* name)
{
    std::wstring text(name);
    bool ascii = true;
    for (wchar_t c : text)
        ascii = ascii && c < 0x80;
    if (!ascii) {
        wchar_t converted[256];
        const int length = ToAscii(text.c_str(), converted, 256);
        if (length <= 0)
            return std::string();
        text.assign(converted);
    }
    return std::string(text.begin(), text.end());
}

std::string AsciiName(const char* name)
{
    bool ascii = true;
    for (const char* at = name; *at != '\0' && ascii; ++at)
        ascii = static_cast<unsigned char>(*at) < 0x80;
    if (ascii)
        return name;  // the common case, and the same in every code page
    return AsciiName(WideFromAnsi(name).c_str());
}

bool ProxyResolves(const std::string& name)
{
    const ProxyServer& server = GetProxyServer();
    return server.usable && server.type == 5 && !name.empty() && !IsNumericHost(name) &&
           !IsLocalName(name, OwnNames());
}

bool FormFor(int family, int flags, AddressForm& form)
{
    if (family == AF_UNSPEC || family == AF_INET) {
        form = AddressForm::Ipv4;
        return true;
    }
    if (family == AF_INET6) {
        form = (flags & AI_V4MAPPED) != 0 ? AddressForm::Mapped : AddressForm::Ipv6;
        return true;
    }
    return false;
}

int NumericFlags(int flags)
{
    flags &= ~(AI_V4MAPPED | AI_ALL | AI_ADDRCONFIG);
    // Tells the system not to look further than the text; a canonical name
    // asked for is left to its own answer for numeric text.
    return (flags & AI_CANONNAME) != 0 ? flags : flags | AI_NUMERICHOST;
}

std::string StandIn(const std::string& name, AddressForm form)
{
    const std::uint32_t address = AddressForName(name);
    return address != 0 ? ReservedText(address, form) : std::string();
}

std::wstring Widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

}  // namespace hook
