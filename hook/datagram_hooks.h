// hook/datagram_hooks.h
// Datagrams the library refuses to send (RefusesDatagram): those to a
// reserved address, which only a proxied TCP connect can use (a program
// trying QUIC then falls back to TCP), and the program's own DNS queries
// while the proxy resolves names.
#pragma once

#include <winsock2.h>
#include <windows.h>

namespace hook {

int WSAAPI HookSendto(SOCKET socket, const char* buffer, int length, int flags, const sockaddr* to,
                      int toLength);
int WSAAPI HookWSASendTo(SOCKET socket, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD flags,
                         const sockaddr* to, int toLength, LPWSAOVERLAPPED overlapped,
                         LPWSAOVERLAPPED_COMPLETION_ROUTINE routine);
int WSAAPI HookWSASendMsg(SOCKET socket, LPWSAMSG message, DWORD flags, LPDWORD sent,
                          LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine);

}  // namespace hook
