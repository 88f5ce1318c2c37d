// socks/socks_handshake.cpp
#include "socks/socks_handshake.h"

#include <vector>

namespace socks {

namespace {

HandshakeResult IoFailure(const Deadline& deadline)
{
    return deadline.RemainingMs() == 0 ? HandshakeResult::TimedOut : HandshakeResult::Broken;
}

template <std::size_t N>
bool Send(SocketHandle socket, const std::array<std::uint8_t, N>& message, const Deadline& deadline)
{
    return SendAll(socket, message.data(), message.size(), deadline);
}

bool ReadHead(SocketHandle socket, ReplyHead& reply, const Deadline& deadline)
{
    return ReadExact(socket, reply.data(), reply.size(), deadline);
}

// The rest of a granted reply is read and dropped: the tunnel handed over
// must start with the destination's first byte, not the proxy's leftovers.
bool SkipBytes(SocketHandle socket, std::size_t count, const Deadline& deadline)
{
    std::uint8_t sink[256 + 2];
    return count <= sizeof sink && ReadExact(socket, sink, count, deadline, true);
}

}  // namespace

HandshakeResult Socks4Handshake(SocketHandle socket, const Ipv4Endpoint& target,
                                const Deadline& deadline)
{
    ReplyHead reply{};
    if (!Send(socket, EncodeSocks4Connect(target), deadline) || !ReadHead(socket, reply, deadline))
        return IoFailure(deadline);
    if (!Socks4Granted(reply))
        return HandshakeResult::Refused;
    if (!SkipBytes(socket, kSocks4ReplyRestSize, deadline))
        return IoFailure(deadline);
    return HandshakeResult::Granted;
}

namespace {

// Every CONNECT reply, a refusal too, has its head and the first byte of the
// bound address (RFC 1928, section 6): read together, one wait fewer.
HandshakeResult ReadConnectReply(SocketHandle socket, const Deadline& deadline)
{
    std::array<std::uint8_t, 5> start{};
    if (!ReadExact(socket, start.data(), start.size(), deadline))
        return IoFailure(deadline);
    if (!Socks5Granted({start[0], start[1]}))
        return HandshakeResult::Refused;
    const int rest = Socks5ReplyRestSize({start[2], start[3], start[4]});
    if (rest < 0)
        return HandshakeResult::Broken;
    if (!SkipBytes(socket, static_cast<std::size_t>(rest), deadline))
        return IoFailure(deadline);
    return HandshakeResult::Granted;
}

HandshakeResult Socks5Negotiated(SocketHandle socket, const std::uint8_t* connectRequest,
                                 std::size_t connectRequestSize, std::string_view user,
                                 std::string_view password, const Deadline& deadline)
{
    std::vector<std::uint8_t> login;
    if (!EncodeSocks5UserPassword(user, password, login))
        return HandshakeResult::Refused;

    ReplyHead reply{};
    if (!Send(socket, EncodeSocks5Greeting(), deadline) || !ReadHead(socket, reply, deadline))
        return IoFailure(deadline);
    switch (DecodeSocks5MethodChoice(reply)) {
    case Socks5Method::NoAuthentication:
        break;
    case Socks5Method::UserPassword:
        if (!SendAll(socket, login.data(), login.size(), deadline) ||
            !ReadHead(socket, reply, deadline))
            return IoFailure(deadline);
        if (!Socks5UserPasswordAccepted(reply))
            return HandshakeResult::Refused;
        break;
    case Socks5Method::Unusable:
        return HandshakeResult::Refused;
    }
    if (!SendAll(socket, connectRequest, connectRequestSize, deadline))
        return IoFailure(deadline);
    return ReadConnectReply(socket, deadline);
}

}  // namespace

HandshakeResult Socks5Handshake(SocketHandle socket, const Ipv4Endpoint& target,
                                std::string_view user, std::string_view password,
                                const Deadline& deadline)
{
    const auto request = EncodeSocks5Connect(target);
    return Socks5Negotiated(socket, request.data(), request.size(), user, password, deadline);
}

HandshakeResult Socks5HandshakeWith(SocketHandle socket, const std::uint8_t* connectRequest,
                                    std::size_t connectRequestSize, std::string_view user,
                                    std::string_view password, const Deadline& deadline)
{
    return Socks5Negotiated(socket, connectRequest, connectRequestSize, user, password, deadline);
}

}  // namespace socks
