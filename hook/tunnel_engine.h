// hook/tunnel_engine.h
// Opens tunnels for the program's connects the way the program's own call
// would have connected: a blocking socket waits in the call; a non-blocking
// one, and ConnectEx, return at once while a worker thread opens the tunnel,
// and the program learns the outcome through the notification it asked for
// (select or WSAPoll readiness, an event, a window message, its OVERLAPPED).
// Until then the socket shows the program nothing of the handshake.
#pragma once

#include <winsock2.h>

#include "hook/route.h"

namespace hook {

// connect and WSAConnect: what the program's call returns (0, or
// SOCKET_ERROR with the Winsock error set). `waitAlways` makes even a
// non-blocking socket wait, for callers that promise a connected socket.
int ConnectThroughProxy(SOCKET socket, const Destination& destination, bool waitAlways = false);

struct ConnectExRequest {
    const void* data = nullptr;  // sent once the tunnel is open
    DWORD size = 0;
    OVERLAPPED* overlapped = nullptr;
};

// ConnectEx: FALSE with ERROR_IO_PENDING, or FALSE with the error.
BOOL ConnectExThroughProxy(SOCKET socket, const Destination& destination,
                           const ConnectExRequest& request);

}  // namespace hook
