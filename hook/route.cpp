// hook/route.cpp
#include "hook/route.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "hook/name_table.h"

namespace hook {

namespace {

bool IsStreamSocket(SOCKET socket, int knownType)
{
    if (knownType != 0)
        return knownType == SOCK_STREAM;
    int type = 0;
    int length = sizeof type;
    return getsockopt(socket, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0 &&
           type == SOCK_STREAM;
}

Route RouteIpv4(const ProxyServer& server, const socks::Ipv4Endpoint& endpoint,
                Destination& destination)
{
    // The unspecified address reaches this machine itself, as loopback does.
    const socks::Ipv4Address any{0, 0, 0, 0};
    const bool local = endpoint.address[0] == 127 || endpoint.address == any;
    if (local || (server.usable && endpoint.address == server.endpoint.address))
        return Route::Direct;
    if (!server.usable)
        return Route::Refuse;
    destination.v4 = endpoint;
    return Route::Proxy;
}

Route RouteIpv6(const ProxyServer& server, const sockaddr_in6& target, Destination& destination)
{
    const in6_addr& address = target.sin6_addr;
    const std::uint16_t port = ntohs(target.sin6_port);
    if (IN6_IS_ADDR_V4MAPPED(&address)) {
        socks::Ipv4Endpoint endpoint{};
        std::memcpy(endpoint.address.data(), &address.s6_addr[12], endpoint.address.size());
        endpoint.port = port;
        return RouteIpv4(server, endpoint, destination);
    }
    if (IN6_IS_ADDR_LOOPBACK(&address) || IN6_IS_ADDR_UNSPECIFIED(&address))
        return Route::Direct;
    // SOCKS 4 has no room for an IPv6 address.
    if (!server.usable || server.type != 5)
        return Route::Refuse;
    destination.ipv6 = true;
    std::memcpy(destination.v6.address.data(), address.s6_addr, destination.v6.address.size());
    destination.v6.port = port;
    return Route::Proxy;
}

// The name behind a reserved address, sent in place of the address.
Route RouteName(const ProxyServer& server, std::uint32_t reserved, std::uint16_t port,
                Destination& destination)
{
    if (!server.usable || server.type != 5 || !NameForAddress(reserved, destination.name))
        return Route::Refuse;
    destination.v4.port = port;
    return Route::Proxy;
}

std::uint16_t PortOf(const sockaddr* name)
{
    // Both forms keep the port at the same place.
    return ntohs(reinterpret_cast<const sockaddr_in*>(name)->sin_port);
}

Route Choose(const ProxyServer& server, const sockaddr* name, int nameLength,
             Destination& destination)
{
    if (const std::uint32_t reserved = ReservedAddressOf(name, nameLength))
        return RouteName(server, reserved, PortOf(name), destination);
    if (name->sa_family == AF_INET && nameLength >= static_cast<int>(sizeof(sockaddr_in))) {
        sockaddr_in target;
        std::memcpy(&target, name, sizeof target);
        socks::Ipv4Endpoint endpoint{};
        std::memcpy(endpoint.address.data(), &target.sin_addr, endpoint.address.size());
        endpoint.port = ntohs(target.sin_port);
        return RouteIpv4(server, endpoint, destination);
    }
    if (name->sa_family == AF_INET6) {
        // Older programs pass the form without the scope id, 24 bytes.
        if (nameLength < static_cast<int>(offsetof(sockaddr_in6, sin6_scope_id)))
            return Route::Refuse;
        sockaddr_in6 target{};
        std::memcpy(&target, name, std::min(sizeof target, static_cast<std::size_t>(nameLength)));
        return RouteIpv6(server, target, destination);
    }
    return Route::Direct;
}

}  // namespace

Route ChooseRoute(const ProxyServer& server, SOCKET socket, const sockaddr* name, int nameLength,
                  Destination& destination, int knownType)
{
    // Malformed arguments and other socket types get the system's own answer.
    if (name == nullptr || nameLength < static_cast<int>(sizeof(sockaddr)))
        return Route::Direct;
    if (!IsStreamSocket(socket, knownType))
        return RefusesDatagram(server, name, nameLength) ? Route::Refuse : Route::Direct;
    const Route route = Choose(server, name, nameLength, destination);
    if (route == Route::Proxy) {
        destination.length = std::min(nameLength, static_cast<int>(sizeof destination.address));
        std::memcpy(&destination.address, name, static_cast<std::size_t>(destination.length));
    }
    return route;
}

bool RefusesDatagram(const ProxyServer& server, const sockaddr* to, int toLength)
{
    constexpr std::uint16_t kNameServerPort = 53;
    if (to == nullptr || toLength < static_cast<int>(sizeof(sockaddr)) ||
        (to->sa_family != AF_INET && to->sa_family != AF_INET6))
        return false;
    if (ReservedAddressOf(to, toLength) != 0)
        return true;
    return server.usable && server.type == 5 && PortOf(to) == kNameServerPort;
}

}  // namespace hook
