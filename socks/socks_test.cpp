// socks/socks_test.cpp
#include "socks/socks_test.h"

#include "socks/socket_io.h"
#include "socks/socks_handshake.h"
#include "socks/socks_messages.h"

#include <cstring>
#include <string_view>
#include <vector>

using socks::Deadline;
using socks::Ipv4Endpoint;
using socks::kInvalidSocket;
using socks::OwnedSocket;
using socks::SocketHandle;

namespace {

// A field's text up to its terminator, never looking past the field; false
// when there is no terminator.
template <std::size_t N>
bool FieldText(const char (&field)[N], std::string_view& text)
{
    const void* end = std::memchr(field, '\0', N);
    if (end == nullptr) {
        return false;
    }
    text = std::string_view(field, static_cast<std::size_t>(static_cast<const char*>(end) - field));
    return true;
}

template <std::size_t N>
bool FieldEndpoint(const char (&address)[N], int port, Ipv4Endpoint& endpoint)
{
    std::string_view text;
    if (!FieldText(address, text) || !socks::ParseIpv4(text, endpoint.address)) {
        return false;
    }
    endpoint.port = static_cast<std::uint16_t>(port & 0xFFFF);
    return true;
}

struct Destinations {
    Ipv4Endpoint proxy;
    Ipv4Endpoint target;
};

// Everything a test can refuse without the network is refused before it
// opens a socket.
bool ReadRecord(const ProxyTestInfo* info, int timeoutMs, Destinations& where)
{
    return info != nullptr && timeoutMs > 0 &&
           FieldEndpoint(info->proxyAddress, info->proxyPort, where.proxy) &&
           FieldEndpoint(info->destAddress, info->destPort, where.target);
}

OwnedSocket ConnectToProxy(int family, int type, int protocol, const Ipv4Endpoint& proxy,
                           const Deadline& deadline)
{
    OwnedSocket socket(socks::OpenSocket(family, type, protocol));
    if (!socket.Valid() || !socks::SetNoDelay(socket.Get()) ||
        !socks::SetBlocking(socket.Get(), false) ||
        !socks::ConnectBefore(socket.Get(), proxy.address, proxy.port, deadline)) {
        return OwnedSocket();
    }
    return socket;
}

// The caller gets an ordinary blocking socket, as if no time-out had existed.
SocketHandle HandOver(OwnedSocket& socket)
{
    if (!socks::SetBlocking(socket.Get(), true)) {
        return kInvalidSocket;
    }
    return socket.Release();
}

}  // namespace

bool SetProxyTestText(char* field, std::size_t fieldSize, const std::string& text)
{
    if (fieldSize == 0) {
        return false;
    }
    if (text.size() >= fieldSize || text.find('\0') != std::string::npos) {
        std::memset(field, '?', fieldSize);
        return false;
    }
    std::memcpy(field, text.data(), text.size());
    std::memset(field + text.size(), 0, fieldSize - text.size());
    return true;
}

SocketHandle TestProxy(int family, int type, int protocol, const ProxyTestInfo* info, int timeoutMs)
{
    if (info == nullptr) {
        return kInvalidSocket;
    }
    switch (info->protocol) {
    case kProxyProtocolSocks4:
        return TestSocks4(family, type, protocol, info, timeoutMs);
    case kProxyProtocolSocks5:
        return TestSocks5(family, type, protocol, info, timeoutMs);
    default:
        return kInvalidSocket;
    }
}

SocketHandle TestSocks4(int family, int type, int protocol, const ProxyTestInfo* info,
                        int timeoutMs)
{
    Destinations where;
    if (!ReadRecord(info, timeoutMs, where)) {
        return kInvalidSocket;
    }
    const Deadline deadline(timeoutMs);
    OwnedSocket socket = ConnectToProxy(family, type, protocol, where.proxy, deadline);
    if (!socket.Valid()) {
        return kInvalidSocket;
    }

    if (socks::Socks4Handshake(socket.Get(), where.target, deadline) !=
        socks::HandshakeResult::Granted) {
        return kInvalidSocket;
    }
    return HandOver(socket);
}

SocketHandle TestSocks5(int family, int type, int protocol, const ProxyTestInfo* info,
                        int timeoutMs)
{
    Destinations where;
    if (!ReadRecord(info, timeoutMs, where)) {
        return kInvalidSocket;
    }
    // Built now although the server may not ask for it: credentials that
    // cannot be carried fail the test before anything goes on the wire.
    std::string_view user;
    std::string_view password;
    std::vector<std::uint8_t> login;
    if (!FieldText(info->userName, user) || !FieldText(info->password, password) ||
        !socks::EncodeSocks5UserPassword(user, password, login)) {
        return kInvalidSocket;
    }

    const Deadline deadline(timeoutMs);
    OwnedSocket socket = ConnectToProxy(family, type, protocol, where.proxy, deadline);
    if (!socket.Valid()) {
        return kInvalidSocket;
    }

    if (socks::Socks5Handshake(socket.Get(), where.target, user, password, deadline) !=
        socks::HandshakeResult::Granted) {
        return kInvalidSocket;
    }
    return HandOver(socket);
}
