// hook/lookup_hooks.cpp
#include "hook/lookup_hooks.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/ansi_text.h"
#include "hook/async_lookup.h"
#include "hook/hook_install.h"
#include "hook/host_entry.h"
#include "hook/name_resolution.h"
#include "hook/never_destroyed.h"

namespace hook {

namespace {

int Fail(int error)
{
    WSASetLastError(error);
    return error;
}

// What the system's lookup would be given for a name the proxy resolves:
// the stand-in text and the hints to use with it. False when the system
// answers the lookup as it stands.
template <typename Hints>
bool Substitute(const std::string& name, const Hints* hints, std::string& text, Hints& changed)
{
    const int flags = hints != nullptr ? hints->ai_flags : 0;
    // A numeric-only lookup of a name fails in the system, as it should.
    if ((flags & AI_NUMERICHOST) != 0 || !ProxyResolves(name))
        return false;
    AddressForm form;
    if (!FormFor(hints != nullptr ? hints->ai_family : AF_UNSPEC, flags, form))
        return false;
    changed = hints != nullptr ? *hints : Hints{};
    changed.ai_flags = NumericFlags(flags);
    if (form == AddressForm::Ipv4)
        changed.ai_family = AF_INET;
    text = StandIn(name, form);
    return true;
}

// GetAddrInfoExW, synchronous, of the stand-in text.
int NumericLookupExW(const std::wstring& text, const std::wstring* service,
                     const ADDRINFOEXW& hints, PADDRINFOEXW* result)
{
    return GetAddrInfoExW(text.c_str(), service != nullptr ? service->c_str() : nullptr, NS_ALL,
                          nullptr, &hints, result, nullptr, nullptr, nullptr, nullptr);
}

// --- GetAddrInfoExA: built on GetAddrInfoExW, which every system has. Its
// results are the library's own, in one block, freed by the replacement of
// FreeAddrInfoEx.

struct OwnResults {
    SRWLOCK lock = SRWLOCK_INIT;
    std::vector<void*> blocks;
};

OwnResults& Owned()
{
    static NeverDestroyed<OwnResults> owned;
    return owned.Get();
}

std::string Narrow(PCWSTR text)
{
    if (text == nullptr)
        return std::string();
    const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(std::max(length, 1)), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], length, nullptr, nullptr);
    narrow.resize(std::strlen(narrow.c_str()));
    return narrow;
}

// MinGW's headers name the next node's type wrongly ("addrinfoexW").
const ADDRINFOEXW* Next(const ADDRINFOEXW* node)
{
    return reinterpret_cast<const ADDRINFOEXW*>(node->ai_next);
}

// Nodes, then addresses, then names, each kept aligned.
PADDRINFOEXA CopyToAnsi(const ADDRINFOEXW* from)
{
    std::size_t size = 0;
    std::vector<std::string> names;
    for (const ADDRINFOEXW* node = from; node != nullptr; node = Next(node)) {
        names.push_back(node->ai_canonname != nullptr ? Narrow(node->ai_canonname) : "");
        size += sizeof(ADDRINFOEXA) + (node->ai_addrlen + 15) / 16 * 16 + names.back().size() + 16;
    }
    if (size == 0)
        return nullptr;
    auto* block = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (block == nullptr)
        return nullptr;
    char* at = block;
    ADDRINFOEXA* previous = nullptr;
    std::size_t index = 0;
    for (const ADDRINFOEXW* node = from; node != nullptr; node = Next(node), ++index) {
        auto* copy = reinterpret_cast<ADDRINFOEXA*>(at);
        at += sizeof(ADDRINFOEXA);
        copy->ai_flags = node->ai_flags;
        copy->ai_family = node->ai_family;
        copy->ai_socktype = node->ai_socktype;
        copy->ai_protocol = node->ai_protocol;
        copy->ai_addrlen = node->ai_addrlen;
        if (node->ai_addr != nullptr) {
            std::memcpy(at, node->ai_addr, node->ai_addrlen);
            copy->ai_addr = reinterpret_cast<sockaddr*>(at);
        }
        at += (node->ai_addrlen + 15) / 16 * 16;
        if (node->ai_canonname != nullptr) {
            std::memcpy(at, names[index].c_str(), names[index].size() + 1);
            copy->ai_canonname = at;
        }
        at += (names[index].size() + 16) / 16 * 16;
        if (previous != nullptr)
            previous->ai_next = reinterpret_cast<decltype(previous->ai_next)>(copy);
        previous = copy;
    }
    return reinterpret_cast<PADDRINFOEXA>(block);
}

bool KeepOwn(void* block)
{
    OwnResults& owned = Owned();
    AcquireSRWLockExclusive(&owned.lock);
    bool kept = true;
    try {
        owned.blocks.push_back(block);
    } catch (...) {
        kept = false;
    }
    ReleaseSRWLockExclusive(&owned.lock);
    return kept;
}

bool ForgetOwn(void* block)
{
    OwnResults& owned = Owned();
    AcquireSRWLockExclusive(&owned.lock);
    auto& blocks = owned.blocks;
    const auto found = std::find(blocks.begin(), blocks.end(), block);
    const bool ours = found != blocks.end();
    if (ours)
        blocks.erase(found);
    ReleaseSRWLockExclusive(&owned.lock);
    return ours;
}

struct AnsiRequest {
    bool hasName = false;
    bool hasService = false;
    std::wstring name;
    std::wstring service;
    DWORD nameSpace = NS_ALL;
    GUID provider{};
    bool hasProvider = false;
    ADDRINFOEXW hints{};
    bool hasHints = false;
};

int LookupAnsi(const AnsiRequest& request, void*& result)
{
    PADDRINFOEXW wide = nullptr;
    GUID provider = request.provider;
    const int error = HookGetAddrInfoExW(
        request.hasName ? request.name.c_str() : nullptr,
        request.hasService ? request.service.c_str() : nullptr, request.nameSpace,
        request.hasProvider ? &provider : nullptr, request.hasHints ? &request.hints : nullptr,
        &wide, nullptr, nullptr, nullptr, nullptr);
    if (error != 0)
        return error;
    PADDRINFOEXA copy = CopyToAnsi(wide);
    FreeAddrInfoExW(wide);
    if (copy == nullptr || !KeepOwn(copy)) {
        if (copy != nullptr)
            HeapFree(GetProcessHeap(), 0, copy);
        return WSA_NOT_ENOUGH_MEMORY;
    }
    result = copy;
    return 0;
}

template <typename Result>
int Start(AsyncLookup lookup, Result* result, LPOVERLAPPED overlapped, void* routine,
          LPHANDLE handle)
{
    lookup.resultSlot = reinterpret_cast<void**>(result);
    lookup.overlapped = overlapped;
    lookup.routine = routine;
    return Fail(StartAsyncLookup(std::move(lookup), handle));
}

}  // namespace

int WSAAPI HookGetaddrinfo(PCSTR node, PCSTR service, const ADDRINFOA* hints, PADDRINFOA* result)
{
    if (node != nullptr && result != nullptr) {
        std::string text;
        ADDRINFOA changed;
        if (Substitute(AsciiName(node), hints, text, changed)) {
            if (text.empty())
                return Fail(WSAHOST_NOT_FOUND);
            return getaddrinfo(text.c_str(), service, &changed, result);
        }
    }
    return getaddrinfo(node, service, hints, result);
}

int WSAAPI HookGetAddrInfoW(PCWSTR node, PCWSTR service, const ADDRINFOW* hints,
                            PADDRINFOW* result)
{
    if (node != nullptr && result != nullptr) {
        std::string text;
        ADDRINFOW changed;
        if (Substitute(AsciiName(node), hints, text, changed)) {
            if (text.empty())
                return Fail(WSAHOST_NOT_FOUND);
            return GetAddrInfoW(Widen(text).c_str(), service, &changed, result);
        }
    }
    return GetAddrInfoW(node, service, hints, result);
}

int WSAAPI HookGetAddrInfoExW(PCWSTR name, PCWSTR service, DWORD nameSpace, LPGUID provider,
                              const ADDRINFOEXW* hints, PADDRINFOEXW* result, timeval* timeout,
                              LPOVERLAPPED overlapped, LPLOOKUPSERVICE_COMPLETION_ROUTINE routine,
                              LPHANDLE handle)
{
    // Other name spaces (e-mail, Bluetooth) and named providers are not DNS.
    const bool dns = (nameSpace == NS_ALL || nameSpace == NS_DNS) && provider == nullptr;
    std::string text;
    ADDRINFOEXW changed;
    if (!dns || name == nullptr || result == nullptr ||
        !Substitute(AsciiName(name), hints, text, changed))
        return GetAddrInfoExW(name, service, nameSpace, provider, hints, result, timeout,
                              overlapped, routine, handle);
    if (text.empty())
        return Fail(WSAHOST_NOT_FOUND);
    const std::wstring wideText = Widen(text);
    if (overlapped == nullptr) {
        const std::wstring serviceText = service != nullptr ? service : L"";
        return NumericLookupExW(wideText, service != nullptr ? &serviceText : nullptr, changed,
                                result);
    }
    AsyncLookup lookup;
    try {
        const bool hasService = service != nullptr;
        const std::wstring serviceText = hasService ? service : L"";
        lookup.lookup = [wideText, hasService, serviceText, changed](void*& found) {
            PADDRINFOEXW list = nullptr;
            const int error =
                NumericLookupExW(wideText, hasService ? &serviceText : nullptr, changed, &list);
            found = list;
            return error;
        };
        lookup.release = [](void* found) { FreeAddrInfoExW(static_cast<PADDRINFOEXW>(found)); };
    } catch (...) {
        return Fail(WSA_NOT_ENOUGH_MEMORY);
    }
    return Start(std::move(lookup), result, overlapped, routine, handle);
}

int WSAAPI HookGetAddrInfoExA(PCSTR name, PCSTR service, DWORD nameSpace, LPGUID provider,
                              const ADDRINFOEXA* hints, PADDRINFOEXA* result, timeval*,
                              LPOVERLAPPED overlapped, LPLOOKUPSERVICE_COMPLETION_ROUTINE routine,
                              LPHANDLE handle)
{
    if (result == nullptr)
        return Fail(WSAEINVAL);
    AnsiRequest request;
    try {
        request.hasName = name != nullptr;
        request.hasService = service != nullptr;
        if (request.hasName)
            request.name = WideFromAnsi(name);
        if (request.hasService)
            request.service = WideFromAnsi(service);
    } catch (...) {
        return Fail(WSA_NOT_ENOUGH_MEMORY);
    }
    request.nameSpace = nameSpace;
    request.hasProvider = provider != nullptr;
    if (request.hasProvider)
        request.provider = *provider;
    request.hasHints = hints != nullptr;
    if (hints != nullptr) {
        request.hints.ai_flags = hints->ai_flags;
        request.hints.ai_family = hints->ai_family;
        request.hints.ai_socktype = hints->ai_socktype;
        request.hints.ai_protocol = hints->ai_protocol;
    }
    if (overlapped == nullptr) {
        void* found = nullptr;
        const int error = LookupAnsi(request, found);
        *result = static_cast<PADDRINFOEXA>(found);
        return Fail(error);
    }
    AsyncLookup lookup;
    try {
        lookup.lookup = [request](void*& found) { return LookupAnsi(request, found); };
        lookup.release = [](void* found) { HookFreeAddrInfoEx(static_cast<PADDRINFOEXA>(found)); };
    } catch (...) {
        return Fail(WSA_NOT_ENOUGH_MEMORY);
    }
    return Start(std::move(lookup), result, overlapped, routine, handle);
}

int WSAAPI HookGetAddrInfoExCancel(LPHANDLE handle)
{
    int error = 0;
    if (handle != nullptr && CancelAsyncLookup(*handle, error))
        return Fail(error);
    using Cancel = int(WSAAPI*)(LPHANDLE);
    const auto original = reinterpret_cast<Cancel>(OriginalOf(
        reinterpret_cast<const void*>(&HookGetAddrInfoExCancel)));
    return original != nullptr ? original(handle) : Fail(WSA_INVALID_HANDLE);
}

void WSAAPI HookFreeAddrInfoEx(PADDRINFOEXA info)
{
    if (info == nullptr)
        return;
    if (ForgetOwn(info))
        HeapFree(GetProcessHeap(), 0, info);
    else
        FreeAddrInfoEx(info);
}

hostent* WSAAPI HookGethostbyname(const char* name)
{
    if (name == nullptr)
        return gethostbyname(name);
    const std::string ascii = AsciiName(name);
    if (!ProxyResolves(ascii))
        return gethostbyname(name);
    const std::uint32_t address = AddressForName(ascii);
    hostent* entry = address != 0 ? ThreadHostEntry(ascii, address) : nullptr;
    if (entry == nullptr)
        WSASetLastError(WSAHOST_NOT_FOUND);
    return entry;
}

HANDLE WSAAPI HookWSAAsyncGetHostByName(HWND window, u_int message, const char* name, char* buffer,
                                        int bufferLength)
{
    if (name == nullptr)
        return WSAAsyncGetHostByName(window, message, name, buffer, bufferLength);
    const std::string ascii = AsciiName(name);
    if (!ProxyResolves(ascii))
        return WSAAsyncGetHostByName(window, message, name, buffer, bufferLength);
    // The system still does the asynchronous part, its message and its
    // cancelling, on the numeric text, which reaches no name server.
    const std::string text = StandIn(ascii, AddressForm::Ipv4);
    if (text.empty()) {
        WSASetLastError(WSAHOST_NOT_FOUND);
        return nullptr;
    }
    return WSAAsyncGetHostByName(window, message, text.c_str(), buffer, bufferLength);
}

}  // namespace hook
