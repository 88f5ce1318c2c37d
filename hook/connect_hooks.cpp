// hook/connect_hooks.cpp
#include "hook/connect_hooks.h"

#include <mswsock.h>

#include <atomic>
#include <cstring>

#include "hook/proxy_settings.h"
#include "hook/route.h"
#include "hook/tunnel.h"

namespace hook {

namespace {

// The provider's ConnectEx, learnt from the program's own WSAIoctl.
std::atomic<LPFN_CONNECTEX> g_realConnectEx{nullptr};

int Fail(int error)
{
    WSASetLastError(error);
    return SOCKET_ERROR;
}

BOOL FailConnectEx(int error)
{
    WSASetLastError(error);
    return FALSE;
}

// Connect and WSAConnect through the proxy. A blocking socket returns when
// the tunnel is open; a non-blocking one says it would block, and the
// program's wait (select, an event, a window message) then finds it connected.
int ConnectThroughProxy(SOCKET socket, const socks::Ipv4Endpoint& destination)
{
    const TunnelResult tunnel = OpenTunnel(GetProxyServer(), socket, destination);
    if (tunnel.error != 0)
        return Fail(tunnel.error);
    return tunnel.nonBlocking ? Fail(WSAEWOULDBLOCK) : 0;
}

BOOL PASCAL HookConnectEx(SOCKET socket, const sockaddr* name, int nameLength, PVOID sendBuffer,
                          DWORD sendSize, LPDWORD sent, LPOVERLAPPED overlapped)
{
    const LPFN_CONNECTEX real = g_realConnectEx.load();
    socks::Ipv4Endpoint destination{};
    switch (ChooseRoute(GetProxyServer(), socket, name, nameLength, destination)) {
    case Route::Direct:
        if (real == nullptr)
            return FailConnectEx(WSAEOPNOTSUPP);
        return real(socket, name, nameLength, sendBuffer, sendSize, sent, overlapped);
    case Route::Refuse:
        return FailConnectEx(WSAENETUNREACH);
    case Route::Proxy:
        break;
    }
    const TunnelResult tunnel = OpenTunnel(GetProxyServer(), socket, destination);
    if (tunnel.error != 0)
        return FailConnectEx(tunnel.error);
    // The program waits for its OVERLAPPED: an overlapped send of its first
    // data (possibly none) completes it the way ConnectEx would have, on its
    // completion port or event, with the count of bytes sent.
    WSABUF buffer{sendSize, static_cast<char*>(sendBuffer)};
    DWORD count = 0;
    if (WSASend(socket, &buffer, 1, &count, 0, overlapped, nullptr) == 0) {
        if (sent != nullptr)
            *sent = count;
        return TRUE;
    }
    return FALSE;  // WSA_IO_PENDING (ERROR_IO_PENDING) or the send's error
}

bool IsConnectExQuery(DWORD code, const void* input, DWORD inputSize, DWORD outputSize)
{
    const GUID connectEx = WSAID_CONNECTEX;
    return code == SIO_GET_EXTENSION_FUNCTION_POINTER && input != nullptr &&
           inputSize >= sizeof(GUID) && std::memcmp(input, &connectEx, sizeof(GUID)) == 0 &&
           outputSize >= sizeof(LPFN_CONNECTEX);
}

}  // namespace

int WSAAPI HookConnect(SOCKET socket, const sockaddr* name, int nameLength)
{
    socks::Ipv4Endpoint destination{};
    switch (ChooseRoute(GetProxyServer(), socket, name, nameLength, destination)) {
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
    socks::Ipv4Endpoint destination{};
    switch (ChooseRoute(GetProxyServer(), socket, name, nameLength, destination)) {
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
    if (result != 0 || output == nullptr || !IsConnectExQuery(code, input, inputSize, outputSize))
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

}  // namespace hook
