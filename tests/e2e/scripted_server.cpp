// tests/e2e/scripted_server.cpp
#include "tests/e2e/scripted_server.h"

#include <algorithm>
#include <utility>

namespace e2e {

ScriptedServer::ScriptedServer(Script script) : m_script(std::move(script))
{
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (m_listener == INVALID_SOCKET ||
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener, 8) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] {
        for (;;) {
            SOCKET client = accept(m_listener, nullptr, nullptr);
            if (client == INVALID_SOCKET)
                return;
            ++m_accepted;
            m_clients.push_back(client);
            if (m_script)
                m_script(client);
        }
    });
}

ScriptedServer::~ScriptedServer()
{
    closesocket(m_listener);  // ends accept()
    if (m_acceptor.joinable())
        m_acceptor.join();
    for (SOCKET client : m_clients)
        closesocket(client);
}

ScriptedServer::Script Turns(std::vector<Turn> turns)
{
    return [turns = std::move(turns)](SOCKET peer) {
        for (const Turn& turn : turns) {
            char buffer[512];
            for (int left = turn.receive; left > 0;) {
                const int got = recv(peer, buffer, std::min<int>(left, sizeof buffer), 0);
                if (got <= 0)
                    return;
                left -= got;
            }
            const int size = static_cast<int>(turn.reply.size());
            if (send(peer, turn.reply.data(), size, 0) != size)
                return;
        }
    };
}

}  // namespace e2e
