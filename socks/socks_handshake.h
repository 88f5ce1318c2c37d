// socks/socks_handshake.h
// The client's side of a SOCKS 4 or SOCKS 5 CONNECT on a socket that is
// already connected to the proxy server. The socket keeps its blocking mode;
// every wait ends at the caller's deadline. On success the next byte the
// socket yields is the destination's first.
#pragma once

#include "socks/socket_handle.h"
#include "socks/socket_io.h"
#include "socks/socks_messages.h"

#include <string_view>

namespace socks {

enum class HandshakeResult {
    Granted,
    Refused,   // the server said no: no acceptable method, bad login, CONNECT refused
    Broken,    // a malformed reply, a closed connection or a socket error
    TimedOut,  // the deadline passed first
};

// What a handshake last heard, for a caller that must say why it ended: the
// result alone folds every "no" together.
enum class HandshakeStep { Greeting, Login, Connect };
struct HandshakeTrace {
    HandshakeStep step = HandshakeStep::Greeting;  // the last step begun
    bool answered = false;                         // that step's reply head arrived whole
    ReplyHead reply{};                             // the head, when answered
};

// Each fills `trace`, when given, and otherwise behaves the same without it.
HandshakeResult Socks4Handshake(SocketHandle socket, const Ipv4Endpoint& target,
                                const Deadline& deadline, HandshakeTrace* trace = nullptr);

// The login is sent only when the server asks for it; a user name or password
// longer than 255 bytes is refused before anything is sent.
HandshakeResult Socks5Handshake(SocketHandle socket, const Ipv4Endpoint& target,
                                std::string_view user, std::string_view password,
                                const Deadline& deadline, HandshakeTrace* trace = nullptr);

// The same with the CONNECT request already encoded, for any address type.
// (The request is not sent ahead with the greeting: microsocks reads one
// message per receive and would never see it.)
HandshakeResult Socks5HandshakeWith(SocketHandle socket, const std::uint8_t* connectRequest,
                                    std::size_t connectRequestSize, std::string_view user,
                                    std::string_view password, const Deadline& deadline,
                                    HandshakeTrace* trace = nullptr);

}  // namespace socks
