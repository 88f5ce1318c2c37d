// socks/socks_messages.cpp
#include "socks/socks_messages.h"

#include <algorithm>

namespace socks {

namespace {

constexpr std::uint8_t kSocks4Version = 0x04;
constexpr std::uint8_t kSocks4ReplyVersion = 0x00;

constexpr std::uint8_t kSocks5Version = 0x05;
constexpr std::uint8_t kMethodNoAuthentication = 0x00;
constexpr std::uint8_t kMethodUserPassword = 0x02;
constexpr std::uint8_t kNoAcceptableMethod = 0xFF;
constexpr std::uint8_t kUserPasswordVersion = 0x01;
constexpr std::uint8_t kSocks5Succeeded = 0x00;
constexpr std::uint8_t kAddressTypeIpv4 = 0x01;
constexpr std::uint8_t kAddressTypeDomain = 0x03;
constexpr std::uint8_t kAddressTypeIpv6 = 0x04;

constexpr std::uint8_t kCommandConnect = 0x01;

std::uint8_t PortHigh(std::uint16_t port)
{
    return static_cast<std::uint8_t>(port >> 8);
}
std::uint8_t PortLow(std::uint16_t port)
{
    return static_cast<std::uint8_t>(port & 0xFF);
}

}  // namespace

bool ParseIpv4(std::string_view text, Ipv4Address& address)
{
    Ipv4Address parsed{};
    std::size_t at = 0;
    for (std::size_t part = 0; part < parsed.size(); ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') {
                return false;
            }
            ++at;
        }
        const std::size_t first = at;
        unsigned value = 0;
        // At most three digits: the loop stops before a value could overflow.
        while (at < text.size() && at - first < 3 && text[at] >= '0' && text[at] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
            ++at;
        }
        const std::size_t digits = at - first;
        if (digits == 0 || value > 255 || (digits > 1 && text[first] == '0')) {
            return false;
        }
        parsed[part] = static_cast<std::uint8_t>(value);
    }
    if (at != text.size()) {
        return false;
    }
    address = parsed;
    return true;
}

/*
 * SOCKS 4 CONNECT request:
 *   +----+----+----+----+----+----+----+----+----+----+....+----+
 *   | VN | CD | DSTPORT |      DSTIP        | USERID       |NULL|
 *   +----+----+----+----+----+----+----+----+----+----+....+----+
 *      1    1      2              4           variable       1
 * The user id is left empty: the record's user name is for SOCKS 5 only.
 */
std::array<std::uint8_t, 9> EncodeSocks4Connect(const Ipv4Endpoint& destination)
{
    const Ipv4Address& ip = destination.address;
    return {kSocks4Version,
            kCommandConnect,
            PortHigh(destination.port),
            PortLow(destination.port),
            ip[0],
            ip[1],
            ip[2],
            ip[3],
            0x00};
}

/*
 * SOCKS 4 reply (8 bytes; only VN and CD decide):
 *   +----+----+----+----+----+----+----+----+
 *   | VN | CD | DSTPORT |      DSTIP        |
 *   +----+----+----+----+----+----+----+----+
 * VN is 0; CD 90 (0x5A) grants the request, 91-93 refuse it.
 */
bool Socks4Granted(const ReplyHead& reply)
{
    return Socks4ReplyCode(reply) == kSocks4RequestGranted;
}

int Socks4ReplyCode(const ReplyHead& reply)
{
    return reply[0] == kSocks4ReplyVersion ? reply[1] : -1;
}

/*
 * SOCKS 5 greeting (RFC 1928, section 3):
 *   +----+----------+----------+
 *   |VER | NMETHODS | METHODS  |
 *   +----+----------+----------+
 *   | 1  |    1     | 1 to 255 |
 *   +----+----------+----------+
 * Both methods are always offered, user name/password first: a server that
 * wants credentials asks for them whether or not the user has set any.
 */
std::array<std::uint8_t, 4> EncodeSocks5Greeting()
{
    return {kSocks5Version, 0x02, kMethodUserPassword, kMethodNoAuthentication};
}

/*
 * Method selection reply:
 *   +----+--------+
 *   |VER | METHOD |
 *   +----+--------+
 * 0xFF (no acceptable method) and anything not offered end the test.
 */
Socks5Method DecodeSocks5MethodChoice(const ReplyHead& reply)
{
    if (reply[0] != kSocks5Version) {
        return Socks5Method::Unusable;
    }
    switch (reply[1]) {
    case kMethodNoAuthentication:
        return Socks5Method::NoAuthentication;
    case kMethodUserPassword:
        return Socks5Method::UserPassword;
    default:
        return Socks5Method::Unusable;
    }
}

bool Socks5NoAcceptableMethod(const ReplyHead& reply)
{
    return reply[0] == kSocks5Version && reply[1] == kNoAcceptableMethod;
}

/*
 * User name/password request (RFC 1929, section 2):
 *   +----+------+----------+------+----------+
 *   |VER | ULEN |  UNAME   | PLEN |  PASSWD  |
 *   +----+------+----------+------+----------+
 *   | 1  |  1   | 1 to 255 |  1   | 1 to 255 |
 *   +----+------+----------+------+----------+
 * Empty texts go out as zero lengths (01 00 00): a server that wants
 * credentials refuses them, which is the answer the user needs.
 */
bool EncodeSocks5UserPassword(std::string_view user, std::string_view password,
                              std::vector<std::uint8_t>& message)
{
    message.clear();
    if (user.size() > kMaxSocks5CredentialSize || password.size() > kMaxSocks5CredentialSize) {
        return false;
    }
    message.reserve(3 + user.size() + password.size());
    message.push_back(kUserPasswordVersion);
    message.push_back(static_cast<std::uint8_t>(user.size()));
    message.insert(message.end(), user.begin(), user.end());
    message.push_back(static_cast<std::uint8_t>(password.size()));
    message.insert(message.end(), password.begin(), password.end());
    return true;
}

/*
 * User name/password reply:
 *   +----+--------+
 *   |VER | STATUS |
 *   +----+--------+
 * STATUS 0 accepts. Some servers answer with the SOCKS version 5 instead of
 * the sub-negotiation version 1; both are taken.
 */
bool Socks5UserPasswordAccepted(const ReplyHead& reply)
{
    return (reply[0] == kUserPasswordVersion || reply[0] == kSocks5Version) && reply[1] == 0x00;
}

/*
 * SOCKS 5 CONNECT request (RFC 1928, section 4), IPv4 destination:
 *   +----+-----+-------+------+----------+----------+
 *   |VER | CMD |  RSV  | ATYP | DST.ADDR | DST.PORT |
 *   +----+-----+-------+------+----------+----------+
 *   | 1  |  1  | X'00' |  1   |    4     |    2     |
 *   +----+-----+-------+------+----------+----------+
 */
std::array<std::uint8_t, 10> EncodeSocks5Connect(const Ipv4Endpoint& destination)
{
    const Ipv4Address& ip = destination.address;
    return {kSocks5Version,
            kCommandConnect,
            0x00,
            kAddressTypeIpv4,
            ip[0],
            ip[1],
            ip[2],
            ip[3],
            PortHigh(destination.port),
            PortLow(destination.port)};
}

/*
 * The same request for an IPv6 destination: ATYP X'04', DST.ADDR 16 bytes.
 */
std::array<std::uint8_t, 22> EncodeSocks5Connect(const Ipv6Endpoint& destination)
{
    std::array<std::uint8_t, 22> message{kSocks5Version, kCommandConnect, 0x00, kAddressTypeIpv6};
    for (std::size_t i = 0; i < destination.address.size(); ++i)
        message[4 + i] = destination.address[i];
    message[20] = PortHigh(destination.port);
    message[21] = PortLow(destination.port);
    return message;
}

/*
 * The same request for a name the server resolves: ATYP X'03', DST.ADDR one
 * length byte and the name's bytes, without a terminator.
 */
bool EncodeSocks5ConnectName(std::string_view host, std::uint16_t port,
                             std::vector<std::uint8_t>& message)
{
    message.clear();
    if (host.empty() || host.size() > kMaxSocks5NameSize) {
        return false;
    }
    // Sized once and written in place: GCC 12 mistakes an insert after a
    // reserve for an overflow.
    const std::size_t size = host.size();
    message.resize(4 + 1 + size + 2);
    message[0] = kSocks5Version;
    message[1] = kCommandConnect;
    message[2] = 0x00;
    message[3] = kAddressTypeDomain;
    message[4] = static_cast<std::uint8_t>(size);
    std::copy(host.begin(), host.end(), message.begin() + 5);
    message[5 + size] = PortHigh(port);
    message[6 + size] = PortLow(port);
    return true;
}

/*
 * CONNECT reply (RFC 1928, section 6):
 *   +----+-----+-------+------+----------+----------+
 *   |VER | REP |  RSV  | ATYP | BND.ADDR | BND.PORT |
 *   +----+-----+-------+------+----------+----------+
 *   | 1  |  1  | X'00' |  1   | Variable |    2     |
 *   +----+-----+-------+------+----------+----------+
 * BND.ADDR is 4 bytes (IPv4), 16 (IPv6) or a length byte and that many
 * bytes (domain name).
 */
bool Socks5Granted(const ReplyHead& reply)
{
    return Socks5ReplyCode(reply) == kSocks5Succeeded;
}

int Socks5ReplyCode(const ReplyHead& reply)
{
    return reply[0] == kSocks5Version ? reply[1] : -1;
}

int Socks5ReplyRestSize(const Socks5ReplyMiddle& middle)
{
    constexpr int kPortSize = 2;
    switch (middle[1]) {
    case kAddressTypeIpv4:
        return 4 - 1 + kPortSize;
    case kAddressTypeIpv6:
        return 16 - 1 + kPortSize;
    case kAddressTypeDomain:
        return middle[2] + kPortSize;
    default:
        return -1;
    }
}

}  // namespace socks
