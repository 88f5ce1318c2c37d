// hook/socket_hooks.h
// Replacements that keep the library's picture of the program's sockets
// (blocking mode, notifications asked for, completion port) and that answer
// for a tunnelled socket as for a socket connected to its destination.
#pragma once

#include <winsock2.h>
#include <windows.h>

namespace hook {

SOCKET WSAAPI HookSocket(int family, int type, int protocol);
SOCKET WSAAPI HookWSASocketA(int family, int type, int protocol, LPWSAPROTOCOL_INFOA info,
                             GROUP group, DWORD flags);
SOCKET WSAAPI HookWSASocketW(int family, int type, int protocol, LPWSAPROTOCOL_INFOW info,
                             GROUP group, DWORD flags);
int WSAAPI HookClosesocket(SOCKET socket);
int WSAAPI HookIoctlsocket(SOCKET socket, long command, u_long* argument);
int WSAAPI HookWSAEventSelect(SOCKET socket, WSAEVENT event, long events);
int WSAAPI HookWSAAsyncSelect(SOCKET socket, HWND window, u_int message, long events);
int WSAAPI HookWSAEnumNetworkEvents(SOCKET socket, WSAEVENT event, LPWSANETWORKEVENTS events);
int WSAAPI HookGetpeername(SOCKET socket, sockaddr* name, int* nameLength);
int WSAAPI HookGetsockopt(SOCKET socket, int level, int option, char* value, int* valueLength);
HANDLE WINAPI HookCreateIoCompletionPort(HANDLE file, HANDLE port, ULONG_PTR key, DWORD threads);

}  // namespace hook
