// hook/socket_registry.h
// What the library knows of the program's sockets: what the program asked
// for (blocking mode, event or window notifications, completion port) and
// where a tunnel through the proxy stands. The program's requests are kept
// even while a tunnel hides them from the system, and given back to it when
// the tunnel is open.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "hook/route.h"

namespace hook {

enum class TunnelState {
    None,     // not connected through us (yet)
    Pending,  // connecting to the proxy or in the handshake
    Open,     // the program's socket carries the destination's stream
    Failed,   // the tunnel failed: the socket carries nothing
};

struct Selection {
    enum class Kind { None, Event, Window };
    Kind kind = Kind::None;
    WSAEVENT event = nullptr;
    HWND window = nullptr;
    UINT message = 0;
    long events = 0;
};

struct SocketRecord {
    int type = 0;  // as created, when the library saw it created
    bool nonBlocking = false;
    Selection selection;
    TunnelState state = TunnelState::None;
    int error = 0;                 // the tunnel's Winsock error once it failed
    Destination destination;       // what getpeername answers once open
    bool connectEventDue = false;  // FD_CONNECT for the next WSAEnumNetworkEvents
    bool closeRequested = false;   // closed by the program while pending
    HANDLE port = nullptr;         // the completion port the program bound it to
    ULONG_PTR portKey = 0;
};

// Every access holds the one lock; nothing that could call back into the
// program or wait on the network runs while it is held.
class LockedSockets {
public:
    LockedSockets();
    ~LockedSockets();
    LockedSockets(const LockedSockets&) = delete;
    LockedSockets& operator=(const LockedSockets&) = delete;

    SocketRecord& operator[](SOCKET socket);  // made on first use
    SocketRecord* Find(SOCKET socket);
    void Forget(SOCKET socket);
};

// The socket's type as it was created, or 0 when the library did not see it.
int KnownType(SOCKET socket);

}  // namespace hook
