// hook/connect_hooks.h
// The replacements of Winsock's connecting functions. Each sends a TCP
// connect through the proxy when its route says so and otherwise calls the
// original.
#pragma once

#include <winsock2.h>

namespace hook {

int WSAAPI HookConnect(SOCKET socket, const sockaddr* name, int nameLength);
int WSAAPI HookWSAConnect(SOCKET socket, const sockaddr* name, int nameLength, LPWSABUF callerData,
                          LPWSABUF calleeData, LPQOS socketQos, LPQOS groupQos);
// Hands out the ConnectEx replacement in place of the provider's ConnectEx.
int WSAAPI HookWSAIoctl(SOCKET socket, DWORD code, LPVOID input, DWORD inputSize, LPVOID output,
                        DWORD outputSize, LPDWORD returned, LPWSAOVERLAPPED overlapped,
                        LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);

}  // namespace hook
