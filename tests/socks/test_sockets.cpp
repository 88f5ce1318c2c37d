// tests/socks/test_sockets.cpp
#include "tests/socks/test_sockets.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

int PeerPort(socks::SocketHandle socket)
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        return -1;
    }
    return ntohs(peer.sin_port);
}

bool NoDelayEnabled(socks::SocketHandle socket)
{
    int value = 0;
    socklen_t length = sizeof value;
    return ::getsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&value),
                        &length) == 0 &&
           value != 0;
}

bool SendThenReceive(socks::SocketHandle socket, const std::vector<std::uint8_t>& out,
                     std::size_t count, std::vector<std::uint8_t>& in)
{
    if (::send(socket, reinterpret_cast<const char*>(out.data()), static_cast<int>(out.size()),
               0) != static_cast<int>(out.size())) {
        return false;
    }
    in.assign(count, 0);
    std::size_t received = 0;
    while (received < count) {
        const auto n = ::recv(socket, reinterpret_cast<char*>(in.data() + received),
                              static_cast<int>(count - received), 0);
        if (n <= 0) {
            return false;
        }
        received += static_cast<std::size_t>(n);
    }
    return true;
}

std::uint16_t UnusedLoopbackPort()
{
    socks::OwnedSocket probe(socks::OpenSocket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!probe.Valid() ||
        ::bind(probe.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}
