// hook/tunnel.h
// Turns a program's connect into a connection through the proxy server: the
// program's own socket is connected to the server and the SOCKS handshake
// runs on it, in whatever blocking mode the program gave the socket.
#pragma once

#include <winsock2.h>

#include "hook/hook_config.h"

namespace hook {

// The whole exchange, connect included, ends within this time.
constexpr int kTunnelTimeoutMs = 10000;

struct TunnelResult {
    int error = 0;             // a Winsock error code, 0 when the tunnel is open
    bool nonBlocking = false;  // the socket is in non-blocking mode
};

// Never falls back to a direct connection: on any failure the socket is left
// shut down and the error says why (the server's own connect error,
// WSAECONNREFUSED for a refusal, WSAECONNRESET for a broken reply,
// WSAETIMEDOUT when time ran out).
TunnelResult OpenTunnel(const ProxyServer& server, SOCKET socket,
                        const socks::Ipv4Endpoint& destination);

}  // namespace hook
