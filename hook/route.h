// hook/route.h
// Where a covered program's TCP connect goes: loopback and the proxy server
// itself directly, other destinations through the proxy, everything else
// that would leave the machine nowhere. An IPv4 address in IPv6 form (a
// dual-stack socket's view of IPv4) is routed as the IPv4 address it is.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include "hook/hook_config.h"

namespace hook {

enum class Route {
    Direct,  // not ours to change: loopback, the proxy itself, not TCP, not IP
    Proxy,   // through the proxy server to `destination`
    Refuse,  // would leave the machine unproxied: fail the connect instead
};

// A destination as the program named it, and as the proxy is asked for it.
struct Destination {
    sockaddr_storage address{};  // the program's own form, for getpeername
    int length = 0;
    bool ipv6 = false;  // a native IPv6 destination: SOCKS 5's IPv6 type
    socks::Ipv4Endpoint v4{};
    socks::Ipv6Endpoint v6{};
    // A name the proxy resolves, when the program connects to the reserved
    // address standing for it; sent with v4's port.
    std::string name;
};

// `destination` is filled for Route::Proxy. UDP and raw sockets are left
// alone: the socket is asked for its type unless the caller knows it.
// A reserved address is routed to its name, or refused when this process
// does not hold it (or the server cannot take names): it never reaches the
// wire. Datagrams that RefusesDatagram names are refused too.
Route ChooseRoute(const ProxyServer& server, SOCKET socket, const sockaddr* name, int nameLength,
                  Destination& destination, int knownType = 0);

// A datagram to a reserved address, or, while the proxy resolves names, to a
// name server's port: the program's own lookup would go around the proxy.
bool RefusesDatagram(const ProxyServer& server, const sockaddr* to, int toLength);

}  // namespace hook
