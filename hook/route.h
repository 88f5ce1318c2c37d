// hook/route.h
// Where a covered program's TCP connect goes: loopback and the proxy server
// itself directly, other IPv4 destinations through the proxy, everything
// else that would leave the machine nowhere.
#pragma once

#include <winsock2.h>

#include "hook/hook_config.h"

namespace hook {

enum class Route {
    Direct,  // not ours to change: loopback, the proxy itself, not TCP, not IP
    Proxy,   // through the proxy server to `destination`
    Refuse,  // would leave the machine unproxied: fail the connect instead
};

// `destination` is filled for Route::Proxy. The socket is asked for its type
// only: UDP and raw sockets are left alone.
Route ChooseRoute(const ProxyServer& server, SOCKET socket, const sockaddr* name, int nameLength,
                  socks::Ipv4Endpoint& destination);

}  // namespace hook
