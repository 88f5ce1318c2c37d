// tests/socks/test_sockets.h
// Looking at the sockets the proxy test hands back, from the test programs.
#pragma once

#include <cstdint>
#include <vector>

#include "socks/socket_handle.h"

// The far end's port, or -1 when the socket is not connected.
int PeerPort(socks::SocketHandle socket);

bool NoDelayEnabled(socks::SocketHandle socket);

// Sends `out`, then gathers `count` bytes with plain recv calls that are not
// retried: on a socket left non-blocking the first recv fails unless the data
// is already there.
bool SendThenReceive(socks::SocketHandle socket, const std::vector<std::uint8_t>& out,
                     std::size_t count, std::vector<std::uint8_t>& in);

// A loopback port that nothing listens on (it was free a moment ago).
std::uint16_t UnusedLoopbackPort();
