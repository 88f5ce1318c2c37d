// socks/socket_io.cpp
#include "socks/socket_io.h"

#include <climits>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#endif

namespace socks {

namespace {

#ifdef _WIN32
constexpr int kSendFlags = 0;

bool LastCallWouldBlock()
{
    const int error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

bool ConnectInProgress()
{
    return ::WSAGetLastError() == WSAEWOULDBLOCK;
}
#else
// A proxy that has already hung up must make the test fail, not raise SIGPIPE.
constexpr int kSendFlags = MSG_NOSIGNAL;

bool LastCallWouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

bool ConnectInProgress()
{
    // After EINTR a non-blocking connect carries on in the background as well.
    return errno == EINPROGRESS || errno == EINTR;
}
#endif

enum class Wait { Ready, TimedOut, Failed };

// Waits until the socket can be read (or written), or has an error or a
// pending close to report, which the next call on it then returns.
Wait WaitUntilReady(SocketHandle socket, bool forWrite, const Deadline& deadline)
{
    // Each pass either returns or waits; the deadline ends the loop.
    for (;;) {
        const int remainingMs = deadline.RemainingMs();
        if (remainingMs <= 0) {
            return Wait::TimedOut;
        }
#ifdef _WIN32
        // Winsock's fd_set is a list of handles, not a bitmap: no FD_SETSIZE
        // limit on the handle's value. A failed connect shows in the
        // exception set, not the write set.
        fd_set ready;
        fd_set failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(socket, &ready);
        FD_SET(socket, &failed);
        timeval wait{remainingMs / 1000, (remainingMs % 1000) * 1000};
        const int count =
            ::select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &wait);
        if (count > 0) {
            return Wait::Ready;
        }
        if (count == SOCKET_ERROR) {
            return Wait::Failed;
        }
#else
        pollfd entry{};
        entry.fd = socket;
        entry.events = forWrite ? POLLOUT : POLLIN;
        const int count = ::poll(&entry, 1, remainingMs);
        if (count > 0) {
            return Wait::Ready;
        }
        if (count < 0 && errno != EINTR) {
            return Wait::Failed;
        }
#endif
    }
}

bool PendingSocketError(SocketHandle socket)
{
    int error = 0;
#ifdef _WIN32
    int length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
        return true;
    }
#else
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return true;
    }
#endif
    return error != 0;
}

}  // namespace

Deadline::Deadline(int timeoutMs, Waits waits)
    : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)), waits_(waits)
{
}

int Deadline::RemainingMs() const
{
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        return 0;
    }
    return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
}

bool SetBlocking(SocketHandle socket, bool blocking)
{
#ifdef _WIN32
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
#else
    const int flags = ::fcntl(socket, F_GETFL, 0);
    if (flags < 0) {
        return false;
    }
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return wanted == flags || ::fcntl(socket, F_SETFL, wanted) == 0;
#endif
}

bool SetNoDelay(SocketHandle socket)
{
    // The handshake is a few small messages, each awaited by the other side:
    // Nagle's algorithm would only delay them.
    const int on = 1;
    return ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                        sizeof on) == 0;
}

bool ConnectBefore(SocketHandle socket, const std::array<std::uint8_t, 4>& address,
                   std::uint16_t port, const Deadline& deadline)
{
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    std::memcpy(&target.sin_addr, address.data(), address.size());

    if (::connect(socket, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
        return true;
    }
    if (!ConnectInProgress()) {
        return false;
    }
    return WaitUntilReady(socket, true, deadline) == Wait::Ready && !PendingSocketError(socket);
}

bool SendAll(SocketHandle socket, const std::uint8_t* data, std::size_t size,
             const Deadline& deadline)
{
    // The handshake's messages are small and go out on a fresh connection:
    // they fit the send buffer, so the wait is only for the rare full one.
    std::size_t sent = 0;
    while (sent < size) {
        if (deadline.RemainingMs() <= 0) {
            return false;
        }
        const auto count = ::send(socket, reinterpret_cast<const char*>(data + sent),
                                  static_cast<int>(size - sent), kSendFlags);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
        } else if (count == 0 || !LastCallWouldBlock()) {
            return false;
        } else if (WaitUntilReady(socket, true, deadline) != Wait::Ready) {
            return false;
        }
    }
    return true;
}

bool ReadExact(SocketHandle socket, std::uint8_t* buffer, std::size_t size,
               const Deadline& deadline, bool alreadyThere)
{
    // A fresh reply is waited for first: asking before it has come costs a
    // call. The rest of a reply has mostly come with its start.
    const bool selects = deadline.HowReadsWait() == Waits::InSelect;
    std::size_t received = 0;
    bool wait = selects && !alreadyThere;
    while (received < size) {
        if (wait && WaitUntilReady(socket, false, deadline) != Wait::Ready) {
            return false;
        }
        if (deadline.RemainingMs() <= 0) {
            return false;
        }
        const auto count = ::recv(socket, reinterpret_cast<char*>(buffer + received),
                                  static_cast<int>(size - received), 0);
        wait = selects;
        if (count > 0) {
            received += static_cast<std::size_t>(count);
        } else if (count == 0) {
            return false;  // the peer closed before the whole reply arrived
        } else if (!LastCallWouldBlock()) {
            return false;
        } else {
            wait = true;  // not blocking after all: never spin
        }
    }
    return true;
}

}  // namespace socks
