// hook/connect_hooks.h
// The replacements of Winsock's connecting functions. Each sends a TCP
// connect through the proxy when its route says so and otherwise calls the
// original.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

namespace hook {

int WSAAPI HookConnect(SOCKET socket, const sockaddr* name, int nameLength);
int WSAAPI HookWSAConnect(SOCKET socket, const sockaddr* name, int nameLength, LPWSABUF callerData,
                          LPWSABUF calleeData, LPQOS socketQos, LPQOS groupQos);
// Hands out the ConnectEx replacement in place of the provider's ConnectEx,
// and follows the blocking mode set through it.
int WSAAPI HookWSAIoctl(SOCKET socket, DWORD code, LPVOID input, DWORD inputSize, LPVOID output,
                        DWORD outputSize, LPDWORD returned, LPWSAOVERLAPPED overlapped,
                        LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);

// These resolve and connect inside ws2_32, where no import can be replaced:
// they are done here instead, each address through the routes above.
BOOL WSAAPI HookWSAConnectByNameW(SOCKET socket, LPWSTR nodeName, LPWSTR serviceName,
                                  LPDWORD localAddressLength, LPSOCKADDR localAddress,
                                  LPDWORD remoteAddressLength, LPSOCKADDR remoteAddress,
                                  const timeval* timeout, LPWSAOVERLAPPED reserved);
BOOL WSAAPI HookWSAConnectByNameA(SOCKET socket, LPCSTR nodeName, LPCSTR serviceName,
                                  LPDWORD localAddressLength, LPSOCKADDR localAddress,
                                  LPDWORD remoteAddressLength, LPSOCKADDR remoteAddress,
                                  const timeval* timeout, LPWSAOVERLAPPED reserved);
BOOL WSAAPI HookWSAConnectByList(SOCKET socket, PSOCKET_ADDRESS_LIST addresses,
                                 LPDWORD localAddressLength, LPSOCKADDR localAddress,
                                 LPDWORD remoteAddressLength, LPSOCKADDR remoteAddress,
                                 const timeval* timeout, LPWSAOVERLAPPED reserved);

}  // namespace hook
