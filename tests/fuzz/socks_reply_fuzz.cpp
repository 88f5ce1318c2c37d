// tests/fuzz/socks_reply_fuzz.cpp
// The proxy test's reply path against a peer that answers with whatever the
// fuzzer makes: a loopback server sends the input's bytes, then stops sending
// and waits for the test to end. The first byte chooses the handshake (SOCKS 4,
// SOCKS 5, SOCKS 5 with a login); the rest is the server's whole answer.
// Besides the sanitizers' findings, a test that outlives its time-out by more
// than a second is a hang and stops the run.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "socks/socks_test.h"

namespace {

constexpr int kTimeoutMs = 250;
constexpr int kHangMs = kTimeoutMs + 1000;

int Listener(std::uint16_t& port)
{
    static int listener = -1;
    static std::uint16_t listenerPort = 0;
    if (listener < 0) {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(listener, 16) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::perror("listener");
            std::abort();
        }
        listenerPort = ntohs(address.sin_port);
    }
    port = listenerPort;
    return listener;
}

// One connection: the reply bytes, then nothing more, until the client goes.
void Answer(int listener, const std::uint8_t* reply, std::size_t size)
{
    const int peer = accept(listener, nullptr, nullptr);
    if (peer < 0)
        return;
    std::size_t sent = 0;
    while (sent < size) {
        const ssize_t n = send(peer, reply + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    shutdown(peer, SHUT_WR);
    char sink[512];
    while (recv(peer, sink, sizeof sink, 0) > 0) {
    }
    close(peer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::uint16_t port = 0;
    const int listener = Listener(port);

    ProxyTestInfo info{};
    SetProxyTestText(info.proxyAddress, "127.0.0.1");
    info.proxyPort = port;
    info.protocol = (data[0] & 1) ? kProxyProtocolSocks5 : kProxyProtocolSocks4;
    if (data[0] & 2) {
        SetProxyTestText(info.userName, "kestreltest");
        SetProxyTestText(info.password, "kestrel-pass");
    }
    SetProxyTestText(info.destAddress, "127.0.0.1");
    info.destPort = 80;

    std::thread server(Answer, listener, data + 1, size - 1);
    const auto start = std::chrono::steady_clock::now();
    const socks::SocketHandle tunnel = TestProxy(AF_INET, SOCK_STREAM, 0, &info, kTimeoutMs);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (tunnel != socks::kInvalidSocket)
        close(tunnel);
    server.join();
    if (elapsed.count() > kHangMs) {
        std::fprintf(stderr, "hang: the test took %lld ms\n", static_cast<long long>(elapsed.count()));
        std::abort();
    }
    return 0;
}
