// socks/socks_test.cpp
#include "socks/socks_test.h"

#include "socks/socket_io.h"
#include "socks/socks_handshake.h"
#include "socks/socks_messages.h"

#include <cstring>
#include <string_view>
#include <vector>

using socks::Deadline;
using socks::HandshakeResult;
using socks::HandshakeStep;
using socks::HandshakeTrace;
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

// How the handshake ended, from its result and what it last heard. A reply
// head the protocol does not have is the server's fault, never an answer.
ProxyTestReport ReportOf(int protocol, HandshakeResult result, const HandshakeTrace& trace)
{
    switch (result) {
    case HandshakeResult::TimedOut:
        return {ProxyTestEnd::TimedOut, -1};
    case HandshakeResult::Broken:
        return {ProxyTestEnd::ProtocolError, -1};
    case HandshakeResult::Granted:
    case HandshakeResult::Refused:
        break;
    }
    if (!trace.answered) {
        // Refused before anything was sent: credentials that cannot be carried.
        return {ProxyTestEnd::Unusable, -1};
    }
    switch (trace.step) {
    case HandshakeStep::Greeting:
        return {socks::Socks5NoAcceptableMethod(trace.reply) ? ProxyTestEnd::MethodRefused
                                                             : ProxyTestEnd::ProtocolError,
                -1};
    case HandshakeStep::Login:
        return {ProxyTestEnd::LoginRefused, -1};
    case HandshakeStep::Connect:
        break;
    }
    const int code = protocol == kProxyProtocolSocks4 ? socks::Socks4ReplyCode(trace.reply)
                                                      : socks::Socks5ReplyCode(trace.reply);
    if (code < 0) {
        return {ProxyTestEnd::ProtocolError, -1};
    }
    return {ProxyTestEnd::Answered, code};
}

void Report(ProxyTestReport* report, ProxyTestReport what)
{
    if (report != nullptr) {
        *report = what;
    }
}

// The caller gets an ordinary blocking socket, as if no time-out had existed.
SocketHandle HandOver(OwnedSocket& socket)
{
    if (!socks::SetBlocking(socket.Get(), true)) {
        return kInvalidSocket;
    }
    return socket.Release();
}

// One test from the connection on, in proxyProtocol; only a granted
// CONNECT's socket is handed over.
template <typename Handshake>
SocketHandle Run(int family, int type, int protocol, int proxyProtocol, const Ipv4Endpoint& proxy,
                 int timeoutMs, ProxyTestReport* report, Handshake handshake)
{
    const Deadline deadline(timeoutMs);
    OwnedSocket socket = ConnectToProxy(family, type, protocol, proxy, deadline);
    if (!socket.Valid()) {
        Report(report, {ProxyTestEnd::NoConnection, -1});
        return kInvalidSocket;
    }
    HandshakeTrace trace;
    const HandshakeResult result = handshake(socket.Get(), deadline, &trace);
    Report(report, ReportOf(proxyProtocol, result, trace));
    return result == HandshakeResult::Granted ? HandOver(socket) : kInvalidSocket;
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

SocketHandle TestProxy(int family, int type, int protocol, const ProxyTestInfo* info, int timeoutMs,
                       ProxyTestReport* report)
{
    Report(report, {ProxyTestEnd::Unusable, -1});
    if (info == nullptr) {
        return kInvalidSocket;
    }
    switch (info->protocol) {
    case kProxyProtocolSocks4:
        return TestSocks4(family, type, protocol, info, timeoutMs, report);
    case kProxyProtocolSocks5:
        return TestSocks5(family, type, protocol, info, timeoutMs, report);
    default:
        return kInvalidSocket;
    }
}

SocketHandle TestSocks4(int family, int type, int protocol, const ProxyTestInfo* info,
                        int timeoutMs, ProxyTestReport* report)
{
    Report(report, {ProxyTestEnd::Unusable, -1});
    Destinations where;
    if (!ReadRecord(info, timeoutMs, where)) {
        return kInvalidSocket;
    }
    return Run(family, type, protocol, kProxyProtocolSocks4, where.proxy, timeoutMs, report,
               [&](SocketHandle socket, const Deadline& deadline, HandshakeTrace* trace) {
                   return socks::Socks4Handshake(socket, where.target, deadline, trace);
               });
}

SocketHandle TestSocks5(int family, int type, int protocol, const ProxyTestInfo* info,
                        int timeoutMs, ProxyTestReport* report)
{
    Report(report, {ProxyTestEnd::Unusable, -1});
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

    return Run(family, type, protocol, kProxyProtocolSocks5, where.proxy, timeoutMs, report,
               [&](SocketHandle socket, const Deadline& deadline, HandshakeTrace* trace) {
                   return socks::Socks5Handshake(socket, where.target, user, password, deadline,
                                                 trace);
               });
}
