// tests/socks/scripted_server.h
// A stand-in proxy server for one handshake: it listens on an ephemeral
// loopback port, accepts one client, plays a script of reads and replies, and
// logs every byte the client sent, including what it sends after the script
// ends, until the client closes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "socks/socket_handle.h"

using Bytes = std::vector<std::uint8_t>;

struct ScriptStep {
    enum class Kind { Receive, Reply, Hangup };
    Kind kind = Kind::Hangup;
    std::size_t count = 0;  // Receive: bytes to read
    Bytes bytes;            // Reply: bytes to send
    int gapMs = 0;          // Reply: when > 0, byte by byte with this pause before each
};

ScriptStep Receive(std::size_t count);
ScriptStep Reply(Bytes bytes);
// One byte per segment, with a pause before each.
ScriptStep ReplyBytewise(Bytes bytes, int gapMs);
// Closes the connection at once.
ScriptStep Hangup();

class ScriptedServer {
public:
    explicit ScriptedServer(std::vector<ScriptStep> script);
    ~ScriptedServer();

    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t Port() const { return port_; }

    // Waits for the server to be done: the script played and the client gone,
    // or no client within a moment of the call. Every wait inside is bounded.
    void Finish();

    // Valid after Finish().
    bool Accepted() const { return accepted_; }
    const Bytes& Received() const { return received_; }

private:
    void Run();
    void Play(socks::SocketHandle client);

    std::vector<ScriptStep> script_;
    socks::OwnedSocket listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> finishing_{false};
    bool accepted_ = false;
    Bytes received_;
    std::thread thread_;
};
