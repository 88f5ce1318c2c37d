// socks/socks_messages.h
// The client's side of SOCKS 4 and SOCKS 5 (RFC 1928, with the user
// name/password method of RFC 1929) as byte messages. Nothing here touches a
// socket.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace socks {

// An IPv4 address as it goes on the wire: 127.0.0.1 is {127, 0, 0, 1}.
using Ipv4Address = std::array<std::uint8_t, 4>;

struct Ipv4Endpoint {
    Ipv4Address address;
    std::uint16_t port;  // host order
};

using Ipv6Address = std::array<std::uint8_t, 16>;

struct Ipv6Endpoint {
    Ipv6Address address;
    std::uint16_t port;  // host order
};

// Dotted decimal only: four decimal parts 0-255 without leading zeros and
// nothing around them. The shorter, octal and hex forms that inet_addr also
// takes are refused, so no text means two different addresses.
bool ParseIpv4(std::string_view text, Ipv4Address& address);

// Every verdict in the handshake lies in a reply's first two bytes.
using ReplyHead = std::array<std::uint8_t, 2>;

std::array<std::uint8_t, 9> EncodeSocks4Connect(const Ipv4Endpoint& destination);
bool Socks4Granted(const ReplyHead& reply);
// CD of a SOCKS 4 reply; -1 when the head is not a SOCKS 4 reply.
int Socks4ReplyCode(const ReplyHead& reply);
constexpr int kSocks4RequestGranted = 0x5A;
// What follows the head of a SOCKS 4 reply.
constexpr std::size_t kSocks4ReplyRestSize = 6;

std::array<std::uint8_t, 4> EncodeSocks5Greeting();

enum class Socks5Method { NoAuthentication, UserPassword, Unusable };
Socks5Method DecodeSocks5MethodChoice(const ReplyHead& reply);
// The one unusable choice that is an answer rather than a broken reply: the
// server takes none of the methods offered.
bool Socks5NoAcceptableMethod(const ReplyHead& reply);

// One length byte each in the sub-negotiation.
constexpr std::size_t kMaxSocks5CredentialSize = 255;

// False, leaving `message` empty, when either text is too long to carry.
bool EncodeSocks5UserPassword(std::string_view user, std::string_view password,
                              std::vector<std::uint8_t>& message);
bool Socks5UserPasswordAccepted(const ReplyHead& reply);

std::array<std::uint8_t, 10> EncodeSocks5Connect(const Ipv4Endpoint& destination);
std::array<std::uint8_t, 22> EncodeSocks5Connect(const Ipv6Endpoint& destination);

// One length byte before the name.
constexpr std::size_t kMaxSocks5NameSize = 255;

// A CONNECT to a host name the server resolves. False, leaving `message`
// empty, for an empty name or one too long to carry.
bool EncodeSocks5ConnectName(std::string_view host, std::uint16_t port,
                             std::vector<std::uint8_t>& message);
bool Socks5Granted(const ReplyHead& reply);

// REP of a CONNECT reply (RFC 1928, section 6).
enum class Socks5Reply : std::uint8_t {
    Succeeded = 0x00,
    GeneralFailure = 0x01,
    NotAllowedByRuleset = 0x02,
    NetworkUnreachable = 0x03,
    HostUnreachable = 0x04,
    ConnectionRefused = 0x05,
    TtlExpired = 0x06,
    CommandNotSupported = 0x07,
    AddressTypeNotSupported = 0x08,
};
// REP of a SOCKS 5 reply head, whatever its value; -1 when the head is not a
// SOCKS 5 reply.
int Socks5ReplyCode(const ReplyHead& reply);

// The bound address that follows the head of a CONNECT reply varies in
// length: its first bytes (RSV, ATYP and the first byte of BND.ADDR) tell
// how many are still to come. -1 for an address type RFC 1928 does not have.
using Socks5ReplyMiddle = std::array<std::uint8_t, 3>;
int Socks5ReplyRestSize(const Socks5ReplyMiddle& middle);

}  // namespace socks
