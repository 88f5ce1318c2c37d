// hook/tunnel.cpp
#include "hook/tunnel.h"

#include <cstring>

#include "socks/socket_io.h"
#include "socks/socks_handshake.h"

namespace hook {

namespace {

int PendingError(SOCKET socket)
{
    int error = 0;
    int length = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        return WSAGetLastError();
    return error;
}

// Waits for a non-blocking connect; a failed one shows in the exception set.
int FinishConnect(SOCKET socket, const socks::Deadline& deadline)
{
    for (;;) {
        const int remainingMs = deadline.RemainingMs();
        if (remainingMs <= 0)
            return WSAETIMEDOUT;
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket, &writable);
        FD_SET(socket, &failed);
        timeval wait{remainingMs / 1000, (remainingMs % 1000) * 1000};
        const int count = select(0, nullptr, &writable, &failed, &wait);
        if (count == SOCKET_ERROR)
            return WSAGetLastError();
        if (count > 0)
            return PendingError(socket);
    }
}

// Connects to the server the way the socket's mode allows. The mode cannot
// be asked for: a blocking socket connects at once or fails, a non-blocking
// one says it would block.
int ConnectToServer(SOCKET socket, const socks::Ipv4Endpoint& server,
                    const socks::Deadline& deadline, bool& nonBlocking)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port);
    std::memcpy(&address.sin_addr, server.address.data(), server.address.size());
    if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return 0;
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK)
        return error;
    nonBlocking = true;
    return FinishConnect(socket, deadline);
}

int HandshakeError(socks::HandshakeResult result)
{
    switch (result) {
    case socks::HandshakeResult::Granted:
        return 0;
    case socks::HandshakeResult::Refused:
        return WSAECONNREFUSED;
    case socks::HandshakeResult::TimedOut:
        return WSAETIMEDOUT;
    case socks::HandshakeResult::Broken:
        break;
    }
    return WSAECONNRESET;
}

}  // namespace

TunnelResult OpenTunnel(const ProxyServer& server, SOCKET socket,
                        const socks::Ipv4Endpoint& destination)
{
    const socks::Deadline deadline(kTunnelTimeoutMs);
    TunnelResult result;
    result.error = ConnectToServer(socket, server.endpoint, deadline, result.nonBlocking);
    if (result.error == WSAEISCONN || result.error == WSAEALREADY)
        return result;  // a program asking again about a connect already made
    if (result.error == 0) {
        const socks::HandshakeResult handshake =
            server.type == 4 ? socks::Socks4Handshake(socket, destination, deadline)
                             : socks::Socks5Handshake(socket, destination, server.user,
                                                      server.password, deadline);
        result.error = HandshakeError(handshake);
    }
    if (result.error != 0)
        shutdown(socket, SD_BOTH);  // the server sees the end at once
    return result;
}

}  // namespace hook
