// hook/connect_hooks.cpp
#include "hook/connect_hooks.h"

#include <mswsock.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "common/ansi_text.h"
#include "hook/lookup_hooks.h"
#include "hook/name_resolution.h"
#include "hook/proxy_settings.h"
#include "hook/route.h"
#include "hook/socket_registry.h"
#include "hook/tunnel.h"
#include "hook/tunnel_engine.h"

namespace hook {

namespace {

// The provider's ConnectEx, learnt from the program's own WSAIoctl.
std::atomic<LPFN_CONNECTEX> g_realConnectEx{nullptr};

int Fail(int error)
{
    WSASetLastError(error);
    return SOCKET_ERROR;
}

BOOL FailBool(int error)
{
    WSASetLastError(error);
    return FALSE;
}

BOOL PASCAL HookConnectEx(SOCKET socket, const sockaddr* name, int nameLength, PVOID sendBuffer,
                          DWORD sendSize, LPDWORD sent, LPOVERLAPPED overlapped)
{
    const LPFN_CONNECTEX real = g_realConnectEx.load();
    Destination destination;
    switch (
        ChooseRoute(GetProxyServer(), socket, name, nameLength, destination, KnownType(socket))) {
    case Route::Direct:
        if (real == nullptr)
            return FailBool(WSAEOPNOTSUPP);
        return real(socket, name, nameLength, sendBuffer, sendSize, sent, overlapped);
    case Route::Refuse:
        return FailBool(WSAENETUNREACH);
    case Route::Proxy:
        break;
    }
    return ConnectExThroughProxy(socket, destination, {sendBuffer, sendSize, overlapped});
}

bool IsConnectExQuery(DWORD code, const void* input, DWORD inputSize, DWORD outputSize)
{
    const GUID connectEx = WSAID_CONNECTEX;
    return code == SIO_GET_EXTENSION_FUNCTION_POINTER && input != nullptr &&
           inputSize >= sizeof(GUID) && std::memcmp(input, &connectEx, sizeof(GUID)) == 0 &&
           outputSize >= sizeof(LPFN_CONNECTEX);
}

int SocketFamily(SOCKET socket)
{
    WSAPROTOCOL_INFOW info{};
    int length = sizeof info;
    if (getsockopt(socket, SOL_SOCKET, SO_PROTOCOL_INFOW, reinterpret_cast<char*>(&info),
                   &length) != 0)
        return AF_UNSPEC;
    return info.iAddressFamily;
}

// An IPv4 address as a dual-stack socket connects to it.
sockaddr_in6 Mapped(const sockaddr_in& v4)
{
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = v4.sin_port;
    v6.sin6_addr.s6_addr[10] = 0xFF;
    v6.sin6_addr.s6_addr[11] = 0xFF;
    std::memcpy(&v6.sin6_addr.s6_addr[12], &v4.sin_addr, 4);
    return v6;
}

void CopyAddress(const sockaddr* from, int fromLength, LPDWORD length, LPSOCKADDR to)
{
    if (length == nullptr || to == nullptr)
        return;
    if (*length >= static_cast<DWORD>(fromLength))
        std::memcpy(to, from, static_cast<std::size_t>(fromLength));
    *length = static_cast<DWORD>(fromLength);
}

// One blocking connect to one address, whatever the socket's mode: these
// functions return a connected socket or fail.
int ConnectOne(SOCKET socket, const sockaddr* name, int nameLength)
{
    Destination destination;
    switch (
        ChooseRoute(GetProxyServer(), socket, name, nameLength, destination, KnownType(socket))) {
    case Route::Direct:
        if (connect(socket, name, nameLength) == 0)
            return 0;
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return WSAGetLastError();
        return WaitForConnect(socket, socks::Deadline(kTunnelTimeoutMs));
    case Route::Refuse:
        return WSAENETUNREACH;
    case Route::Proxy:
        break;
    }
    return ConnectThroughProxy(socket, destination, true) == 0 ? 0 : WSAGetLastError();
}

// Tries the addresses in order, as the system's functions do.
BOOL ConnectToAny(SOCKET socket, const std::vector<std::vector<char>>& addresses,
                  LPDWORD localAddressLength, LPSOCKADDR localAddress, LPDWORD remoteAddressLength,
                  LPSOCKADDR remoteAddress)
{
    int error = WSAHOST_NOT_FOUND;
    for (const std::vector<char>& address : addresses) {
        const auto* name = reinterpret_cast<const sockaddr*>(address.data());
        const int nameLength = static_cast<int>(address.size());
        error = ConnectOne(socket, name, nameLength);
        if (error == 0) {
            sockaddr_storage local{};
            int length = sizeof local;
            if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) == 0)
                CopyAddress(reinterpret_cast<sockaddr*>(&local), length, localAddressLength,
                            localAddress);
            CopyAddress(name, nameLength, remoteAddressLength, remoteAddress);
            return TRUE;
        }
        // A socket spent on a failed tunnel cannot try the next address.
        LockedSockets sockets;
        const SocketRecord* record = sockets.Find(socket);
        if (record != nullptr && record->state != TunnelState::None)
            break;
    }
    return FailBool(error);
}

std::vector<char> Bytes(const void* address, std::size_t length)
{
    const char* begin = static_cast<const char*>(address);
    return std::vector<char>(begin, begin + length);
}

}  // namespace

int WSAAPI HookConnect(SOCKET socket, const sockaddr* name, int nameLength)
{
    Destination destination;
    switch (
        ChooseRoute(GetProxyServer(), socket, name, nameLength, destination, KnownType(socket))) {
    case Route::Direct:
        return connect(socket, name, nameLength);
    case Route::Refuse:
        return Fail(WSAENETUNREACH);
    case Route::Proxy:
        break;
    }
    return ConnectThroughProxy(socket, destination);
}

int WSAAPI HookWSAConnect(SOCKET socket, const sockaddr* name, int nameLength, LPWSABUF callerData,
                          LPWSABUF calleeData, LPQOS socketQos, LPQOS groupQos)
{
    Destination destination;
    switch (
        ChooseRoute(GetProxyServer(), socket, name, nameLength, destination, KnownType(socket))) {
    case Route::Direct:
        return WSAConnect(socket, name, nameLength, callerData, calleeData, socketQos, groupQos);
    case Route::Refuse:
        return Fail(WSAENETUNREACH);
    case Route::Proxy:
        break;
    }
    // Connect data and quality of service mean nothing to TCP.
    return ConnectThroughProxy(socket, destination);
}

int WSAAPI HookWSAIoctl(SOCKET socket, DWORD code, LPVOID input, DWORD inputSize, LPVOID output,
                        DWORD outputSize, LPDWORD returned, LPWSAOVERLAPPED overlapped,
                        LPWSAOVERLAPPED_COMPLETION_ROUTINE completion)
{
    const int result = WSAIoctl(socket, code, input, inputSize, output, outputSize, returned,
                                overlapped, completion);
    if (result != 0)
        return result;
    if (code == FIONBIO && input != nullptr && inputSize >= sizeof(u_long)) {
        u_long value = 0;
        std::memcpy(&value, input, sizeof value);
        LockedSockets sockets;
        sockets[socket].nonBlocking = value != 0;
        return result;
    }
    if (output == nullptr || !IsConnectExQuery(code, input, inputSize, outputSize))
        return result;
    LPFN_CONNECTEX real = nullptr;
    std::memcpy(&real, output, sizeof real);
    if (real != nullptr && real != &HookConnectEx) {
        g_realConnectEx.store(real);
        const LPFN_CONNECTEX replacement = &HookConnectEx;
        std::memcpy(output, &replacement, sizeof replacement);
    }
    return result;
}

BOOL WSAAPI HookWSAConnectByNameW(SOCKET socket, LPWSTR nodeName, LPWSTR serviceName,
                                  LPDWORD localAddressLength, LPSOCKADDR localAddress,
                                  LPDWORD remoteAddressLength, LPSOCKADDR remoteAddress,
                                  const timeval*, LPWSAOVERLAPPED reserved)
{
    if (nodeName == nullptr || serviceName == nullptr || reserved != nullptr)
        return FailBool(WSAEINVAL);
    const int family = SocketFamily(socket);
    ADDRINFOW hints{};
    hints.ai_family = family == AF_INET ? AF_INET : AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW* found = nullptr;
    // The program's own lookup: a name the proxy resolves is sent as a name.
    if (const int error = HookGetAddrInfoW(nodeName, serviceName, &hints, &found))
        return FailBool(error);
    std::vector<std::vector<char>> addresses;
    for (const ADDRINFOW* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && family == AF_INET6) {
            const sockaddr_in6 mapped =
                Mapped(*reinterpret_cast<const sockaddr_in*>(entry->ai_addr));
            addresses.push_back(Bytes(&mapped, sizeof mapped));
        } else if (entry->ai_family == family) {
            addresses.push_back(Bytes(entry->ai_addr, entry->ai_addrlen));
        }
    }
    FreeAddrInfoW(found);
    return ConnectToAny(socket, addresses, localAddressLength, localAddress, remoteAddressLength,
                        remoteAddress);
}

BOOL WSAAPI HookWSAConnectByNameA(SOCKET socket, LPCSTR nodeName, LPCSTR serviceName,
                                  LPDWORD localAddressLength, LPSOCKADDR localAddress,
                                  LPDWORD remoteAddressLength, LPSOCKADDR remoteAddress,
                                  const timeval* timeout, LPWSAOVERLAPPED reserved)
{
    if (nodeName == nullptr || serviceName == nullptr)
        return FailBool(WSAEINVAL);
    std::wstring node = WideFromAnsi(nodeName);
    std::wstring service = WideFromAnsi(serviceName);
    return HookWSAConnectByNameW(socket, &node[0], &service[0], localAddressLength, localAddress,
                                 remoteAddressLength, remoteAddress, timeout, reserved);
}

BOOL WSAAPI HookWSAConnectByList(SOCKET socket, PSOCKET_ADDRESS_LIST addresses,
                                 LPDWORD localAddressLength, LPSOCKADDR localAddress,
                                 LPDWORD remoteAddressLength, LPSOCKADDR remoteAddress,
                                 const timeval*, LPWSAOVERLAPPED reserved)
{
    if (addresses == nullptr || reserved != nullptr)
        return FailBool(WSAEINVAL);
    std::vector<std::vector<char>> list;
    for (INT i = 0; i < addresses->iAddressCount; ++i) {
        const SOCKET_ADDRESS& entry = addresses->Address[i];
        if (entry.lpSockaddr != nullptr && entry.iSockaddrLength > 0)
            list.push_back(
                Bytes(entry.lpSockaddr, static_cast<std::size_t>(entry.iSockaddrLength)));
    }
    return ConnectToAny(socket, list, localAddressLength, localAddress, remoteAddressLength,
                        remoteAddress);
}

}  // namespace hook
