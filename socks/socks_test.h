// socks/socks_test.h
// The server page's proxy test: a SOCKS 4 or SOCKS 5 handshake that asks the
// proxy server to CONNECT to a destination. On success the connected socket
// (a tunnel through the proxy) is handed to the caller, who closes it; how a
// test ended, granted or not, can be reported beside it.
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

// How a test ended. Only a granted CONNECT yields a socket, but other answers
// say as much about the server: the caller judges them.
enum class ProxyTestEnd {
    Unusable,       // the record was refused: nothing was sent
    NoConnection,   // the proxy server could not be reached
    MethodRefused,  // SOCKS 5: none of the offered methods is acceptable
    LoginRefused,   // SOCKS 5: the user name or password was refused
    Answered,       // the server answered the CONNECT, granted or not: see reply
    ProtocolError,  // a reply outside the protocol, or the connection lost within one
    TimedOut,       // silence until the time-out
};

struct ProxyTestReport {
    ProxyTestEnd end = ProxyTestEnd::Unusable;
    // The CONNECT reply's code (SOCKS 4 CD, SOCKS 5 REP) when Answered; -1 otherwise.
    int reply = -1;
};

// The caller passes AF_INET, SOCK_STREAM and 0; the proxy address is always
// IPv4. Winsock must have been started by the program. Each returns the
// connected, blocking socket on success, or kInvalidSocket (-1) with every
// socket it opened closed: for a null record, an unknown protocol, a record
// field that does not hold a valid text, a time-out of 0 or less, a failure to
// connect, a refusal, a malformed or truncated reply, or when timeoutMs passes.
// A given report is always filled, whatever the outcome.
socks::SocketHandle TestProxy(int family, int type, int protocol, const ProxyTestInfo* info,
                              int timeoutMs = kDefaultProxyTestTimeoutMs,
                              ProxyTestReport* report = nullptr);
socks::SocketHandle TestSocks4(int family, int type, int protocol, const ProxyTestInfo* info,
                               int timeoutMs = kDefaultProxyTestTimeoutMs,
                               ProxyTestReport* report = nullptr);
socks::SocketHandle TestSocks5(int family, int type, int protocol, const ProxyTestInfo* info,
                               int timeoutMs = kDefaultProxyTestTimeoutMs,
                               ProxyTestReport* report = nullptr);
