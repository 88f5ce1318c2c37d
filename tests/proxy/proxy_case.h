// tests/proxy/proxy_case.h
// One proxy test case: a fresh folder holding the launcher, the library and
// copies of the test client, a client.db written by Kestrel's own store, and
// the logs of the relay and of the direct listener that run-isolated started.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/server_record.h"

// The relay's ports, from relayPort (relay.py says what each does).
constexpr int kRelayOpen = 0;
constexpr int kRelayLogin = 1;
constexpr int kRelayRefuse = 2;
constexpr int kRelaySilent = 3;
constexpr int kRelaySlow = 4;     // open, each reply 100 ms late
constexpr int kRelayDown = 5;     // nothing listens: the proxy is down
constexpr int kRelayForward = 6;  // joins each CONNECT to its destination, from loopback
constexpr int kRelayDrop = 7;     // drops connections: the proxy never answers a SYN

// Where the servers of run-isolated listen.
struct Network {
    std::string address;   // bound to loopback only inside the namespace
    std::string address6;  // the same, IPv6
    int echoPort = 0;      // echo on 127.0.0.1 and on both addresses
    int httpPort = 0;      // HTTP on both addresses
    // open; +1 login, +2 refuse, +3 silent, +4 slow, +5 down, +6 forward, +7 drop
    int relayPort = 0;
    int realServerBase = 0;
    std::string realUser;
    std::string realPassword;
};
const Network& TestNetwork();

// What one connection of the client came to.
struct ClientResult {
    bool ok = false;
    int error = 0;
    std::string peer;  // who the socket is connected to, as the program sees it
    long long elapsedMs = 0;
    std::string trace;  // what an asynchronous style saw, in order
};

class ProxyCase : public ::testing::Test {
protected:
    void SetUp() override;

    // The store as Kestrel writes it: tables, server row, settings.
    void Configure(const ServerRecord& server, const char* enable = "1",
                   const char* applyArea = "All");
    ServerRecord Relay(int offset = 0, int type = 5) const;
    std::string Db() const { return m_folder + "\\client.db"; }

    // "name.exe" in the case folder.
    std::string Program(const std::string& name) const { return m_folder + "\\" + name; }
    // Copies the test client (or the other width's) under another name.
    std::string CopyClient(const std::string& name, bool otherWidth = false) const;
    // Copies the client whose ws2_32.dll is delay-loaded.
    std::string CopyDelayLoadedClient(const std::string& name) const;
    bool HaveOtherWidth() const;
    std::string Launcher() const;
    std::string OtherWidthLauncher() const;

    // Runs the client through the launcher (or directly) with `arguments`
    // after its result file, waits for it, and returns the result lines.
    std::vector<std::string> RunClient(const std::string& arguments, bool covered = true,
                                       const std::string& launcher = std::string(),
                                       const std::string& client = std::string());
    // One connection of the given style to `address`:`port`.
    ClientResult Connect(const std::string& style, const std::string& address, int port,
                         bool covered = true);
    // Runs the covered client once per element of `arguments`, all at once,
    // and returns each run's result lines.
    std::vector<std::vector<std::string>> RunClientsTogether(
        const std::vector<std::string>& arguments);
    std::string ResultFile(const std::string& name) const;

    std::vector<std::string> RelayLog() const;
    std::vector<std::string> DirectLog() const;
    std::vector<std::string> DnsLog() const;  // "udp|tcp NAME", each query the relay's DNS saw
    std::string RelayLine(int offset, int version, const std::string& target) const;

    std::string m_folder;
};

// Holds client.db under an exclusive lock, as a writer in the middle of a
// transaction would.
class ExclusiveLock {
public:
    explicit ExclusiveLock(const std::string& path);
    ~ExclusiveLock() { Release(); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    bool Held() const { return m_held; }
    void Release();

private:
    struct sqlite3* m_db = nullptr;
    bool m_held = false;
};

ClientResult ParseResult(const std::string& line);
std::vector<std::string> ReadLines(const std::string& path);
