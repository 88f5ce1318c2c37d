// socks/socket_handle.h
// The platform's stream socket handle (a SOCKET under Winsock, a descriptor
// elsewhere) and the small owner that closes it.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#endif

namespace socks {

#ifdef _WIN32
using SocketHandle = SOCKET;
constexpr SocketHandle kInvalidSocket = INVALID_SOCKET;
#else
using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;
#endif

// socket(family, type, protocol); kInvalidSocket when the system refuses.
SocketHandle OpenSocket(int family, int type, int protocol);

// Owns one socket handle and closes it when it goes out of scope, unless the
// handle was released to someone else first.
class OwnedSocket {
public:
    OwnedSocket() = default;
    explicit OwnedSocket(SocketHandle handle) : handle_(handle) {}
    ~OwnedSocket() { Close(); }

    OwnedSocket(const OwnedSocket&) = delete;
    OwnedSocket& operator=(const OwnedSocket&) = delete;
    OwnedSocket(OwnedSocket&& other) noexcept : handle_(other.Release()) {}
    OwnedSocket& operator=(OwnedSocket&& other) noexcept;

    SocketHandle Get() const { return handle_; }
    bool Valid() const { return handle_ != kInvalidSocket; }

    // Gives up ownership: the caller closes the handle.
    SocketHandle Release();

    // Closes the handle now; false if the system reported an error. Closing an
    // empty owner succeeds.
    bool Close();

private:
    SocketHandle handle_ = kInvalidSocket;
};

}  // namespace socks
