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

// Keeps a caller's trace up to date; without one it does nothing.
class Tracer {
public:
    explicit Tracer(HandshakeTrace* trace) : trace_(trace) {}
    void Begin(HandshakeStep step) const
    {
        if (trace_ != nullptr)
            *trace_ = HandshakeTrace{step, false, {}};
    }
    void Heard(const ReplyHead& reply) const
    {
        if (trace_ != nullptr) {
            trace_->answered = true;
            trace_->reply = reply;
        }
    }

private:
    HandshakeTrace* trace_;
};

}  // namespace

HandshakeResult Socks4Handshake(SocketHandle socket, const Ipv4Endpoint& target,
                                const Deadline& deadline, HandshakeTrace* trace)
{
    const Tracer tracer(trace);
    tracer.Begin(HandshakeStep::Connect);
    ReplyHead reply{};
    if (!Send(socket, EncodeSocks4Connect(target), deadline) || !ReadHead(socket, reply, deadline))
        return IoFailure(deadline);
    tracer.Heard(reply);
    if (!Socks4Granted(reply))
        return HandshakeResult::Refused;
    if (!SkipBytes(socket, kSocks4ReplyRestSize, deadline))
        return IoFailure(deadline);
    return HandshakeResult::Granted;
}

namespace {

// Every CONNECT reply, a refusal too, has its head and the first byte of the
// bound address (RFC 1928, section 6): read together, one wait fewer.
HandshakeResult ReadConnectReply(SocketHandle socket, const Deadline& deadline,
                                 const Tracer& tracer)
{
    std::array<std::uint8_t, 5> start{};
    if (!ReadExact(socket, start.data(), start.size(), deadline))
        return IoFailure(deadline);
    tracer.Heard({start[0], start[1]});
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
                                 std::string_view password, const Deadline& deadline,
                                 HandshakeTrace* trace)
{
    const Tracer tracer(trace);
    tracer.Begin(HandshakeStep::Greeting);
    std::vector<std::uint8_t> login;
    if (!EncodeSocks5UserPassword(user, password, login))
        return HandshakeResult::Refused;

    ReplyHead reply{};
    if (!Send(socket, EncodeSocks5Greeting(), deadline) || !ReadHead(socket, reply, deadline))
        return IoFailure(deadline);
    tracer.Heard(reply);
    switch (DecodeSocks5MethodChoice(reply)) {
    case Socks5Method::NoAuthentication:
        break;
    case Socks5Method::UserPassword:
        tracer.Begin(HandshakeStep::Login);
        if (!SendAll(socket, login.data(), login.size(), deadline) ||
            !ReadHead(socket, reply, deadline))
            return IoFailure(deadline);
        tracer.Heard(reply);
        if (!Socks5UserPasswordAccepted(reply))
            return HandshakeResult::Refused;
        break;
    case Socks5Method::Unusable:
        return HandshakeResult::Refused;
    }
    tracer.Begin(HandshakeStep::Connect);
    if (!SendAll(socket, connectRequest, connectRequestSize, deadline))
        return IoFailure(deadline);
    return ReadConnectReply(socket, deadline, tracer);
}

}  // namespace

HandshakeResult Socks5Handshake(SocketHandle socket, const Ipv4Endpoint& target,
                                std::string_view user, std::string_view password,
                                const Deadline& deadline, HandshakeTrace* trace)
{
    const auto request = EncodeSocks5Connect(target);
    return Socks5Negotiated(socket, request.data(), request.size(), user, password, deadline,
                            trace);
}

HandshakeResult Socks5HandshakeWith(SocketHandle socket, const std::uint8_t* connectRequest,
                                    std::size_t connectRequestSize, std::string_view user,
                                    std::string_view password, const Deadline& deadline,
                                    HandshakeTrace* trace)
{
    return Socks5Negotiated(socket, connectRequest, connectRequestSize, user, password, deadline,
                            trace);
}

}  // namespace socks
