// hook/socket_hooks.cpp
#include "hook/socket_hooks.h"

#include <cstring>

#include "hook/socket_registry.h"

namespace hook {

namespace {

// A new handle may reuse the number of one closed where the library did
// not see it: whatever was known under it is forgotten.
SOCKET Fresh(SOCKET socket, int type)
{
    if (socket != INVALID_SOCKET) {
        LockedSockets sockets;
        sockets.Forget(socket);
        // Flags beside the type (SOCK_NONBLOCK-like bits) are not Windows'.
        sockets[socket].type =
            type == SOCK_STREAM || type == SOCK_DGRAM || type == SOCK_RAW ? type : 0;
    }
    return socket;
}

int Fail(int error)
{
    WSASetLastError(error);
    return SOCKET_ERROR;
}

// Keeps a selection while a tunnel is pending (it is put in force when the
// tunnel is open); otherwise hands it to the system. Either way the socket
// is non-blocking from now on, as the system makes it.
int Select(SOCKET socket, const Selection& selection)
{
    LockedSockets sockets;
    SocketRecord& record = sockets[socket];
    if (record.state == TunnelState::Pending) {
        record.selection = selection;
        record.nonBlocking = true;
        return 0;
    }
    const int result =
        selection.kind == Selection::Kind::Window
            ? WSAAsyncSelect(socket, selection.window, selection.message, selection.events)
            : WSAEventSelect(socket, selection.event, selection.events);
    if (result == 0) {
        record.selection = selection;
        record.nonBlocking = true;
    }
    return result;
}

}  // namespace

SOCKET WSAAPI HookSocket(int family, int type, int protocol)
{
    return Fresh(socket(family, type, protocol), type);
}

SOCKET WSAAPI HookWSASocketA(int family, int type, int protocol, LPWSAPROTOCOL_INFOA info,
                             GROUP group, DWORD flags)
{
    return Fresh(WSASocketA(family, type, protocol, info, group, flags),
                 info == nullptr ? type : 0);
}

SOCKET WSAAPI HookWSASocketW(int family, int type, int protocol, LPWSAPROTOCOL_INFOW info,
                             GROUP group, DWORD flags)
{
    return Fresh(WSASocketW(family, type, protocol, info, group, flags),
                 info == nullptr ? type : 0);
}

int WSAAPI HookClosesocket(SOCKET socket)
{
    {
        LockedSockets sockets;
        SocketRecord* record = sockets.Find(socket);
        // The tunnel's thread still works on the handle: it closes it when
        // done, so that the number cannot be reused under it.
        if (record != nullptr && record->state == TunnelState::Pending) {
            if (record->closeRequested)
                return Fail(WSAENOTSOCK);
            record->closeRequested = true;
            return 0;
        }
        sockets.Forget(socket);
    }
    return closesocket(socket);
}

int WSAAPI HookIoctlsocket(SOCKET socket, long command, u_long* argument)
{
    const int result = ioctlsocket(socket, command, argument);
    if (result == 0 && command == static_cast<long>(FIONBIO) && argument != nullptr) {
        LockedSockets sockets;
        sockets[socket].nonBlocking = *argument != 0;
    }
    return result;
}

int WSAAPI HookWSAEventSelect(SOCKET socket, WSAEVENT event, long events)
{
    Selection selection;
    selection.kind = Selection::Kind::Event;
    selection.event = event;
    selection.events = events;
    return Select(socket, selection);
}

int WSAAPI HookWSAAsyncSelect(SOCKET socket, HWND window, u_int message, long events)
{
    Selection selection;
    selection.kind = Selection::Kind::Window;
    selection.window = window;
    selection.message = message;
    selection.events = events;
    return Select(socket, selection);
}

int WSAAPI HookWSAEnumNetworkEvents(SOCKET socket, WSAEVENT event, LPWSANETWORKEVENTS events)
{
    const int result = WSAEnumNetworkEvents(socket, event, events);
    if (result != 0 || events == nullptr)
        return result;
    LockedSockets sockets;
    SocketRecord* record = sockets.Find(socket);
    if (record != nullptr && record->connectEventDue) {
        // The tunnel's outcome, reported once, as the system reports a
        // connect's.
        record->connectEventDue = false;
        events->lNetworkEvents |= FD_CONNECT;
        events->iErrorCode[FD_CONNECT_BIT] = record->error;
    }
    return result;
}

int WSAAPI HookGetpeername(SOCKET socket, sockaddr* name, int* nameLength)
{
    {
        LockedSockets sockets;
        const SocketRecord* record = sockets.Find(socket);
        if (record != nullptr && record->state == TunnelState::Open) {
            const int length = record->destination.length;
            if (name == nullptr || nameLength == nullptr || *nameLength < length)
                return Fail(WSAEFAULT);
            std::memcpy(name, &record->destination.address, static_cast<std::size_t>(length));
            *nameLength = length;
            return 0;
        }
        if (record != nullptr && record->state != TunnelState::None)
            return Fail(WSAENOTCONN);
    }
    return getpeername(socket, name, nameLength);
}

int WSAAPI HookGetsockopt(SOCKET socket, int level, int option, char* value, int* valueLength)
{
    if (level == SOL_SOCKET && option == SO_ERROR && value != nullptr && valueLength != nullptr &&
        *valueLength >= static_cast<int>(sizeof(int))) {
        LockedSockets sockets;
        const SocketRecord* record = sockets.Find(socket);
        if (record != nullptr &&
            (record->state == TunnelState::Pending || record->state == TunnelState::Failed)) {
            const int error = record->state == TunnelState::Failed ? record->error : 0;
            std::memcpy(value, &error, sizeof error);
            *valueLength = sizeof error;
            return 0;
        }
    }
    return getsockopt(socket, level, option, value, valueLength);
}

HANDLE WINAPI HookCreateIoCompletionPort(HANDLE file, HANDLE port, ULONG_PTR key, DWORD threads)
{
    const HANDLE result = CreateIoCompletionPort(file, port, key, threads);
    if (result != nullptr && file != INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        LockedSockets sockets;
        if (SocketRecord* record = sockets.Find(reinterpret_cast<SOCKET>(file))) {
            record->port = result;
            record->portKey = key;
        }
        SetLastError(error);
    }
    return result;
}

}  // namespace hook
