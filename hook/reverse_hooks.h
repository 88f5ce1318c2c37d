// hook/reverse_hooks.h
// Replacements of the functions that turn an address back into a name: a
// reserved address answers the name it stands for, and never reaches a name
// server, even when this process no longer holds it.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

namespace hook {

int WSAAPI HookGetnameinfo(const sockaddr* address, socklen_t length, char* host,
                           DWORD hostLength, char* service, DWORD serviceLength, int flags);
INT WSAAPI HookGetNameInfoW(const SOCKADDR* address, socklen_t length, PWCHAR host,
                            DWORD hostLength, PWCHAR service, DWORD serviceLength, INT flags);
hostent* WSAAPI HookGethostbyaddr(const char* address, int length, int type);

}  // namespace hook
