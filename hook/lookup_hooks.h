// hook/lookup_hooks.h
// Replacements of the functions that turn a name into addresses. A name the
// proxy resolves is answered at once, in process, with its reserved address;
// every other lookup is the system's, unchanged.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

namespace hook {

int WSAAPI HookGetaddrinfo(PCSTR node, PCSTR service, const ADDRINFOA* hints, PADDRINFOA* result);
int WSAAPI HookGetAddrInfoW(PCWSTR node, PCWSTR service, const ADDRINFOW* hints,
                            PADDRINFOW* result);
int WSAAPI HookGetAddrInfoExW(PCWSTR name, PCWSTR service, DWORD nameSpace, LPGUID provider,
                              const ADDRINFOEXW* hints, PADDRINFOEXW* result, timeval* timeout,
                              LPOVERLAPPED overlapped, LPLOOKUPSERVICE_COMPLETION_ROUTINE routine,
                              LPHANDLE handle);
int WSAAPI HookGetAddrInfoExA(PCSTR name, PCSTR service, DWORD nameSpace, LPGUID provider,
                              const ADDRINFOEXA* hints, PADDRINFOEXA* result, timeval* timeout,
                              LPOVERLAPPED overlapped, LPLOOKUPSERVICE_COMPLETION_ROUTINE routine,
                              LPHANDLE handle);
int WSAAPI HookGetAddrInfoExCancel(LPHANDLE handle);
void WSAAPI HookFreeAddrInfoEx(PADDRINFOEXA info);
hostent* WSAAPI HookGethostbyname(const char* name);
HANDLE WSAAPI HookWSAAsyncGetHostByName(HWND window, u_int message, const char* name, char* buffer,
                                        int bufferLength);

}  // namespace hook
