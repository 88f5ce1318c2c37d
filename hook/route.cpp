// hook/route.cpp
#include "hook/route.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace hook {

namespace {

bool IsStreamSocket(SOCKET socket)
{
    int type = 0;
    int length = sizeof type;
    return getsockopt(socket, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0 &&
           type == SOCK_STREAM;
}

bool IsLoopback(const socks::Ipv4Address& address)
{
    return address[0] == 127;
}

Route RouteIpv4(const ProxyServer& server, const sockaddr_in& target,
                socks::Ipv4Endpoint& destination)
{
    socks::Ipv4Endpoint endpoint{};
    std::memcpy(endpoint.address.data(), &target.sin_addr, endpoint.address.size());
    endpoint.port = ntohs(target.sin_port);
    // The unspecified address reaches this machine itself, as loopback does.
    const bool local = IsLoopback(endpoint.address) || target.sin_addr.s_addr == INADDR_ANY;
    if (local || (server.usable && endpoint.address == server.endpoint.address))
        return Route::Direct;
    if (!server.usable)
        return Route::Refuse;
    destination = endpoint;
    return Route::Proxy;
}

Route RouteIpv6(const sockaddr_in6& target)
{
    const in6_addr& address = target.sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&address) || IN6_IS_ADDR_UNSPECIFIED(&address))
        return Route::Direct;
    // An IPv4 address carried in IPv6 form is still loopback if it is 127/8.
    if (IN6_IS_ADDR_V4MAPPED(&address) && address.s6_addr[12] == 127)
        return Route::Direct;
    return Route::Refuse;
}

}  // namespace

Route ChooseRoute(const ProxyServer& server, SOCKET socket, const sockaddr* name, int nameLength,
                  socks::Ipv4Endpoint& destination)
{
    // Malformed arguments and other socket types get the system's own answer.
    if (name == nullptr || nameLength < static_cast<int>(sizeof(sockaddr)) ||
        !IsStreamSocket(socket))
        return Route::Direct;
    if (name->sa_family == AF_INET && nameLength >= static_cast<int>(sizeof(sockaddr_in))) {
        sockaddr_in target;
        std::memcpy(&target, name, sizeof target);
        return RouteIpv4(server, target, destination);
    }
    if (name->sa_family == AF_INET6) {
        // Older programs pass the form without the scope id, 24 bytes.
        if (nameLength < static_cast<int>(offsetof(sockaddr_in6, sin6_scope_id)))
            return Route::Refuse;
        sockaddr_in6 target{};
        std::memcpy(&target, name, std::min(sizeof target, static_cast<std::size_t>(nameLength)));
        return RouteIpv6(target);
    }
    return Route::Direct;
}

}  // namespace hook
