// hook/wait_hooks.h
// select and WSAPoll as the program would see them for a socket connecting
// to a slow server: a socket whose tunnel is pending is not ready for
// anything; once the tunnel is open the system reports it as usual; a
// failed one reports its failure as a failed connect does.
#pragma once

#include <winsock2.h>

namespace hook {

int WSAAPI HookSelect(int count, fd_set* readable, fd_set* writable, fd_set* failed,
                      const timeval* timeout);
int WSAAPI HookWSAPoll(WSAPOLLFD* entries, ULONG count, INT timeout);

}  // namespace hook
