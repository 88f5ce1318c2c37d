// socks/socket_handle.cpp
#include "socks/socket_handle.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace socks {

SocketHandle OpenSocket(int family, int type, int protocol)
{
    // Winsock reports failure as INVALID_SOCKET, POSIX as -1: both are kInvalidSocket.
    return ::socket(family, type, protocol);
}

OwnedSocket& OwnedSocket::operator=(OwnedSocket&& other) noexcept
{
    if (this != &other) {
        Close();
        handle_ = other.Release();
    }
    return *this;
}

SocketHandle OwnedSocket::Release()
{
    const SocketHandle handle = handle_;
    handle_ = kInvalidSocket;
    return handle;
}

bool OwnedSocket::Close()
{
    if (!Valid()) {
        return true;
    }
    const SocketHandle handle = Release();
#ifdef _WIN32
    return ::closesocket(handle) == 0;
#else
    return ::close(handle) == 0;
#endif
}

}  // namespace socks
