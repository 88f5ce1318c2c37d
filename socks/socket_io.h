// socks/socket_io.h
// Stream I/O for the proxy test: the socket is non-blocking while the test
// runs, and every wait (connect, each send, each receive) ends at one deadline
// shared by the whole exchange, so a silent or slow server cannot hold the
// test longer than its time-out.
#pragma once

#include "socks/socket_handle.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace socks {

// How the exchange's reads wait for their bytes: on a non-blocking socket in
// select, each wait ending at the deadline; on a blocking socket in the
// receive itself, one call fewer per reply, when something else ends the
// exchange at the deadline (the proxying library shuts the socket down).
enum class Waits { InSelect, InReceive };

class Deadline {
public:
    explicit Deadline(int timeoutMs, Waits waits = Waits::InSelect);

    // Whole milliseconds left, rounded up; 0 once the deadline has passed.
    int RemainingMs() const;
    Waits HowReadsWait() const { return waits_; }

private:
    std::chrono::steady_clock::time_point end_;
    Waits waits_;
};

bool SetBlocking(SocketHandle socket, bool blocking);
bool SetNoDelay(SocketHandle socket);

// Connects a non-blocking socket to an IPv4 address (bytes in network order)
// and a port (host order).
bool ConnectBefore(SocketHandle socket, const std::array<std::uint8_t, 4>& address,
                   std::uint16_t port, const Deadline& deadline);

bool SendAll(SocketHandle socket, const std::uint8_t* data, std::size_t size,
             const Deadline& deadline);

// Gathers exactly `size` bytes, however the peer splits them. Fails if the
// peer closes first, on a socket error, or when the deadline passes.
// alreadyThere: the bytes have probably arrived (the rest of a reply whose
// start was just read), so they are asked for before any wait.
bool ReadExact(SocketHandle socket, std::uint8_t* buffer, std::size_t size,
               const Deadline& deadline, bool alreadyThere = false);

}  // namespace socks
