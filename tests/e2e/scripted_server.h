// tests/e2e/scripted_server.h
#pragma once

#include <winsock2.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

// A loopback server that plays a script against each connection it accepts,
// one after the other; without a script it accepts and never answers. A
// script may shut its connection down; the server closes them all at its end.
class ScriptedServer {
public:
    using Script = std::function<void(SOCKET)>;

    explicit ScriptedServer(Script script = Script());
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // 0 when the server could not listen.
    int Port() const { return m_port; }
    int Accepted() const { return m_accepted; }

private:
    SOCKET m_listener = INVALID_SOCKET;
    int m_port = 0;
    std::atomic<int> m_accepted{0};
    std::vector<SOCKET> m_clients;
    Script m_script;
    std::thread m_acceptor;
};

// One turn of a scripted exchange: read so many bytes, then send the reply.
struct Turn {
    int receive;
    std::string reply;
};

// A script of turns played in order; it stops at the first that fails and
// leaves the connection open for the client to close.
ScriptedServer::Script Turns(std::vector<Turn> turns);

}  // namespace e2e
