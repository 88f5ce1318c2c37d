// hook/datagram_hooks.cpp
#include "hook/datagram_hooks.h"

#include "hook/proxy_settings.h"
#include "hook/route.h"

namespace hook {

namespace {

int Fail(int error)
{
    WSASetLastError(error);
    return SOCKET_ERROR;
}

}  // namespace

int WSAAPI HookSendto(SOCKET socket, const char* buffer, int length, int flags, const sockaddr* to,
                      int toLength)
{
    if (RefusesDatagram(GetProxyServer(), to, toLength))
        return Fail(WSAENETUNREACH);
    return sendto(socket, buffer, length, flags, to, toLength);
}

int WSAAPI HookWSASendTo(SOCKET socket, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD flags,
                         const sockaddr* to, int toLength, LPWSAOVERLAPPED overlapped,
                         LPWSAOVERLAPPED_COMPLETION_ROUTINE routine)
{
    if (RefusesDatagram(GetProxyServer(), to, toLength))
        return Fail(WSAENETUNREACH);
    return WSASendTo(socket, buffers, count, sent, flags, to, toLength, overlapped, routine);
}

int WSAAPI HookWSASendMsg(SOCKET socket, LPWSAMSG message, DWORD flags, LPDWORD sent,
                          LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine)
{
    if (message != nullptr && RefusesDatagram(GetProxyServer(), message->name, message->namelen))
        return Fail(WSAENETUNREACH);
    return WSASendMsg(socket, message, flags, sent, overlapped, routine);
}

}  // namespace hook
