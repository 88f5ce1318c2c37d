// socks/socks_test.h
// The server page's proxy test: a SOCKS 4 or SOCKS 5 handshake that asks the
// proxy server to CONNECT to a destination. On success the connected socket
// (a tunnel through the proxy) is handed to the caller, who closes it.
#pragma once

#include "socks/socket_handle.h"

#include <cstddef>
#include <string>

constexpr int kProxyProtocolSocks4 = 0;
constexpr int kProxyProtocolSocks5 = 1;

// One deadline covers the whole test: connecting and every reply.
constexpr int kDefaultProxyTestTimeoutMs = 10000;

// One test. Texts are zero-terminated inside their fields; a field without a
// terminator makes the test fail before it connects.
struct ProxyTestInfo {
    char proxyAddress[24];  // IPv4, dotted decimal
    int proxyPort;          // host order; the low 16 bits are used
    int protocol;           // kProxyProtocolSocks4 or kProxyProtocolSocks5
    char userName[256];     // SOCKS 5 user name/password method only
    char password[256];
    char destAddress[24];  // IPv4, dotted decimal
    int destPort;          // host order; the low 16 bits are used
};

// Copies `text` and its terminator into a record field and zeroes the rest.
// Returns false if it does not fit: longer than fieldSize - 1 bytes, or with a
// zero byte inside. The field is then filled with '?' and has no terminator,
// so a test given the record refuses it instead of sending a shortened text.
bool SetProxyTestText(char* field, std::size_t fieldSize, const std::string& text);

template <std::size_t N>
bool SetProxyTestText(char (&field)[N], const std::string& text)
{
    return SetProxyTestText(field, N, text);
}

// The caller passes AF_INET, SOCK_STREAM and 0; the proxy address is always
// IPv4. Winsock must have been started by the program. Each returns the
// connected, blocking socket on success, or kInvalidSocket (-1) with every
// socket it opened closed: for a null record, an unknown protocol, a record
// field that does not hold a valid text, a time-out of 0 or less, a failure to
// connect, a refusal, a malformed or truncated reply, or when timeoutMs passes.
socks::SocketHandle TestProxy(int family, int type, int protocol, const ProxyTestInfo* info,
                              int timeoutMs = kDefaultProxyTestTimeoutMs);
socks::SocketHandle TestSocks4(int family, int type, int protocol, const ProxyTestInfo* info,
                               int timeoutMs = kDefaultProxyTestTimeoutMs);
socks::SocketHandle TestSocks5(int family, int type, int protocol, const ProxyTestInfo* info,
                               int timeoutMs = kDefaultProxyTestTimeoutMs);
