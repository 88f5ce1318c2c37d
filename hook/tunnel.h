// hook/tunnel.h
// Turns a program's socket into a connection through the proxy server: the
// socket is connected to the server and the SOCKS handshake runs on it, all
// of it ended at the deadline, a server that drops packets included.
#pragma once

#include <winsock2.h>

#include "hook/hook_config.h"
#include "hook/route.h"
#include "socks/socket_io.h"

namespace hook {

// The whole exchange, connect included, ends within this time.
constexpr int kTunnelTimeoutMs = 10000;

// 0 when the tunnel is open. Never falls back to a direct connection: on any
// failure the socket is left shut down and the Winsock error says why (the
// server's own connect error, WSAECONNREFUSED for a refusal, WSAECONNRESET
// for a broken reply, WSAETIMEDOUT when time ran out).
// Waits for a non-blocking connect already under way: 0 when it is made, its
// error when it failed (Winsock shows that in the exception set only), or
// WSAETIMEDOUT at the deadline.
int WaitForConnect(SOCKET socket, const socks::Deadline& deadline);

// `blocking`: the socket is the program's blocking socket, whose thread
// waits in this call; connect and handshake then wait in the calls, as the
// least client's do, and a timer cancels them at the deadline. Otherwise the
// socket is non-blocking and every wait is a select.
int OpenTunnel(const ProxyServer& server, SOCKET socket, const Destination& destination,
               int timeoutMs, bool blocking);

}  // namespace hook
