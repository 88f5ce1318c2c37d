// hook/tunnel.cpp
#include "hook/tunnel.h"

#include <ws2tcpip.h>

#include <cstring>
#include <vector>

#include "hook/shutdown_timer.h"
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

// The server's address in the socket's own family: a dual-stack IPv6 socket
// reaches the IPv4 server through its mapped form.
int ConnectToServer(SOCKET socket, int family, const socks::Ipv4Endpoint& server,
                    const socks::Deadline& deadline)
{
    sockaddr_storage address{};
    int length = 0;
    if (family == AF_INET6) {
        // An IPv6-only socket (Windows' default) cannot reach an IPv4 server:
        // it is made dual-stack, which an unbound socket still allows. A
        // connected socket never notices the difference.
        const DWORD off = 0;
        setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off),
                   sizeof off);
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(server.port);
        v6.sin6_addr.s6_addr[10] = 0xFF;
        v6.sin6_addr.s6_addr[11] = 0xFF;
        std::memcpy(&v6.sin6_addr.s6_addr[12], server.address.data(), server.address.size());
        length = sizeof v6;
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(server.port);
        std::memcpy(&v4.sin_addr, server.address.data(), server.address.size());
        length = sizeof v4;
    }
    if (connect(socket, reinterpret_cast<const sockaddr*>(&address), length) == 0)
        return 0;
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK)
        return error;
    return WaitForConnect(socket, deadline);
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

socks::HandshakeResult Handshake(const ProxyServer& server, SOCKET socket,
                                 const Destination& destination, const socks::Deadline& deadline)
{
    if (server.type == 4)
        return socks::Socks4Handshake(socket, destination.v4, deadline);
    if (!destination.name.empty()) {
        std::vector<std::uint8_t> request;
        if (!socks::EncodeSocks5ConnectName(destination.name, destination.v4.port, request))
            return socks::HandshakeResult::Refused;
        return socks::Socks5HandshakeWith(socket, request.data(), request.size(), server.user,
                                          server.password, deadline);
    }
    if (destination.ipv6) {
        const auto request = socks::EncodeSocks5Connect(destination.v6);
        return socks::Socks5HandshakeWith(socket, request.data(), request.size(), server.user,
                                          server.password, deadline);
    }
    const auto request = socks::EncodeSocks5Connect(destination.v4);
    return socks::Socks5HandshakeWith(socket, request.data(), request.size(), server.user,
                                      server.password, deadline);
}

// The program's blocking socket, whose thread waits in this call: connect
// and handshake wait in the calls themselves, as the least client's do, and
// a timer ends them at the deadline.
int OpenInCall(const ProxyServer& server, SOCKET socket, const Destination& destination,
               int timeoutMs)
{
    ShutdownTimer timer(socket, timeoutMs);
    if (!timer.Armed())
        return WSAENOBUFS;
    const socks::Deadline deadline(timeoutMs, socks::Waits::InReceive);
    int error = ConnectToServer(socket, destination.address.ss_family, server.endpoint, deadline);
    if (error == 0)
        error = HandshakeError(Handshake(server, socket, destination, deadline));
    return timer.Finish() ? error : WSAETIMEDOUT;
}

}  // namespace

int WaitForConnect(SOCKET socket, const socks::Deadline& deadline)
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
        // Winsock reports a failed connect in the exception set only.
        if (count > 0)
            return FD_ISSET(socket, &failed) ? PendingError(socket) : 0;
    }
}

int OpenTunnel(const ProxyServer& server, SOCKET socket, const Destination& destination,
               int timeoutMs, bool blocking)
{
    if ((destination.ipv6 || !destination.name.empty()) && server.type != 5)
        return WSAENETUNREACH;
    int error = 0;
    if (blocking) {
        error = OpenInCall(server, socket, destination, timeoutMs);
    } else {
        const socks::Deadline deadline(timeoutMs);
        error = ConnectToServer(socket, destination.address.ss_family, server.endpoint, deadline);
        if (error == 0)
            error = HandshakeError(Handshake(server, socket, destination, deadline));
    }
    if (error != 0)
        shutdown(socket, SD_BOTH);  // the server sees the end at once
    return error;
}

}  // namespace hook
