// tests/socks/scripted_server.cpp
#include "tests/socks/scripted_server.h"

#include <chrono>
#include <stdexcept>
#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#endif

using socks::OwnedSocket;
using socks::SocketHandle;

namespace {

#ifdef _WIN32
constexpr int kSendFlags = 0;
#else
constexpr int kSendFlags = MSG_NOSIGNAL;  // the client may already be gone
#endif

// Long enough for any client under test, short enough that a broken test ends.
constexpr int kPatienceMs = 10000;
constexpr int kSliceMs = 20;
constexpr std::size_t kMaxLogSize = 1 << 20;

bool Readable(SocketHandle socket, int ms)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval wait{ms / 1000, (ms % 1000) * 1000};
    return ::select(static_cast<int>(socket) + 1, &set, nullptr, nullptr, &wait) > 0;
}

// Bytes read, 0 when the client closed, -1 on an error or when it stays silent.
int ReadSome(SocketHandle socket, std::uint8_t* buffer, std::size_t size)
{
    if (!Readable(socket, kPatienceMs)) {
        return -1;
    }
    const auto count = ::recv(socket, reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
    return count < 0 ? -1 : static_cast<int>(count);
}

bool SendBytes(SocketHandle socket, const std::uint8_t* data, std::size_t size)
{
    return ::send(socket, reinterpret_cast<const char*>(data), static_cast<int>(size),
                  kSendFlags) == static_cast<int>(size);
}

ScriptStep Step(ScriptStep::Kind kind)
{
    ScriptStep step;
    step.kind = kind;
    return step;
}

void Sleep(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

ScriptStep Receive(std::size_t count)
{
    ScriptStep step = Step(ScriptStep::Kind::Receive);
    step.count = count;
    return step;
}

ScriptStep Reply(Bytes bytes)
{
    ScriptStep step = Step(ScriptStep::Kind::Reply);
    step.bytes = std::move(bytes);
    return step;
}

ScriptStep ReplyBytewise(Bytes bytes, int gapMs)
{
    ScriptStep step = Reply(std::move(bytes));
    step.gapMs = gapMs;
    return step;
}

ScriptStep Hangup()
{
    return Step(ScriptStep::Kind::Hangup);
}

ScriptedServer::ScriptedServer(std::vector<ScriptStep> script)
    : script_(std::move(script)), listener_(socks::OpenSocket(AF_INET, SOCK_STREAM, 0))
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (!listener_.Valid() ||
        ::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.Get(), 4) != 0 ||
        ::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("scripted server cannot listen on loopback");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer()
{
    Finish();
}

void ScriptedServer::Finish()
{
    finishing_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ScriptedServer::Run()
{
    // A client that was going to connect has done so by the time Finish() is
    // called, so one last look after that suffices.
    bool pending = false;
    for (int waited = 0; waited < kPatienceMs && !pending; waited += kSliceMs) {
        const bool lastLook = finishing_;
        pending = Readable(listener_.Get(), lastLook ? 0 : kSliceMs);
        if (lastLook) {
            break;
        }
    }
    if (!pending) {
        return;
    }
    OwnedSocket client(::accept(listener_.Get(), nullptr, nullptr));
    listener_.Close();
    if (!client.Valid()) {
        return;
    }
    accepted_ = true;
    Play(client.Get());
}

void ScriptedServer::Play(SocketHandle client)
{
    std::uint8_t buffer[512];
    for (const ScriptStep& step : script_) {
        switch (step.kind) {
        case ScriptStep::Kind::Receive:
            for (std::size_t left = step.count; left > 0;) {
                const int count =
                    ReadSome(client, buffer, left < sizeof buffer ? left : sizeof buffer);
                if (count <= 0) {
                    return;
                }
                received_.insert(received_.end(), buffer, buffer + count);
                left -= static_cast<std::size_t>(count);
            }
            break;
        case ScriptStep::Kind::Reply:
            if (step.gapMs <= 0) {
                SendBytes(client, step.bytes.data(), step.bytes.size());
                break;
            }
            for (std::uint8_t byte : step.bytes) {
                Sleep(step.gapMs);
                SendBytes(client, &byte, 1);
            }
            break;
        case ScriptStep::Kind::Hangup:
            return;
        }
    }
    // Log whatever else the client sends, until it closes or goes quiet.
    while (received_.size() < kMaxLogSize) {
        const int count = ReadSome(client, buffer, sizeof buffer);
        if (count <= 0) {
            return;
        }
        received_.insert(received_.end(), buffer, buffer + count);
    }
}
