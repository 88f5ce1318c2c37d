// bench/kestrel_bench.cpp
// Prints what one store operation and one proxy test cost next to the bare
// work they cannot avoid: opening and closing the database file, and a TCP
// connect and close to the proxy. Each pair is measured interleaved in one run,
// so a busy machine slows both sides alike and the ratio stays meaningful.
#include "socks/socks_test.h"
#include "store/config_db.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double TimeUs(const std::function<bool()>& work, bool& ok)
{
    auto start = Clock::now();
    ok = work() && ok;
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

struct Pair {
    double work = 0;
    double bare = 0;
    double reference = 0;  // 0 when there is none
    bool ok = true;
};

// Alternates the measurements so that all of them see the same machine.
Pair Measure(int rounds, const std::function<bool()>& work, const std::function<bool()>& bare,
             const std::function<bool()>& reference = nullptr)
{
    std::vector<double> a, b, c;
    Pair p;
    for (int i = 0; i < rounds; ++i) {
        a.push_back(TimeUs(work, p.ok));
        b.push_back(TimeUs(bare, p.ok));
        if (reference)
            c.push_back(TimeUs(reference, p.ok));
    }
    p.work = Median(a);
    p.bare = Median(b);
    p.reference = Median(c);
    return p;
}

void Report(const char* what, const Pair& p, double aim)
{
    double ratio = p.bare > 0 ? p.work / p.bare : 0;
    std::printf("%-36s %7.1f us  bare %6.1f us  ratio %5.2f (aim <= %.0fx)", what, p.work, p.bare,
                ratio, aim);
    if (p.reference > 0)
        std::printf("  least client %6.1f us, ours/least %4.2f", p.reference, p.work / p.reference);
    std::printf("%s\n", p.ok ? "" : "  FAILED RUNS");
}

int ConnectTo(int port)
{
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return -1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

// The least any client can do for the same test: blocking calls, one receive
// per reply, no deadline, no checks beyond the deciding bytes. It separates
// what the servers cost from what our own client adds.
bool LeastClient(int port, int protocol, const std::string& user, const std::string& pass)
{
    int s = ConnectTo(port);
    if (s < 0)
        return false;
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    unsigned char buf[600];
    auto exchange = [&](const std::string& out, unsigned char b0, unsigned char b1) {
        return ::send(s, out.data(), out.size(), MSG_NOSIGNAL) ==
                   static_cast<ssize_t>(out.size()) &&
               ::recv(s, buf, sizeof buf, 0) >= 2 && buf[0] == b0 && buf[1] == b1;
    };
    bool ok;
    if (protocol == kProxyProtocolSocks4) {
        ok = exchange(std::string("\x04\x01\x00\x50\x7f\x00\x00\x01\x00", 9), 0x00, 0x5A);
    } else {
        ok = ::send(s, "\x05\x02\x02\x00", 4, MSG_NOSIGNAL) == 4 &&
             ::recv(s, buf, sizeof buf, 0) >= 2;
        if (ok && buf[1] == 0x02) {
            std::string auth = "\x01" + std::string(1, static_cast<char>(user.size())) + user +
                               std::string(1, static_cast<char>(pass.size())) + pass;
            ok = exchange(auth, 0x01, 0x00);
        }
        ok =
            ok && exchange(std::string("\x05\x01\x00\x01\x7f\x00\x00\x01\x00\x50", 10), 0x05, 0x00);
    }
    ::close(s);
    return ok;
}

bool BareConnect(int port)
{
    int s = ConnectTo(port);
    if (s < 0)
        return false;
    ::close(s);
    return true;
}

bool ProxyTest(int port, int protocol, const char* user, const char* pass)
{
    ProxyTestInfo info{};
    SetProxyTestText(info.proxyAddress, "127.0.0.1");
    info.proxyPort = port;
    info.protocol = protocol;
    SetProxyTestText(info.userName, user);
    SetProxyTestText(info.password, pass);
    SetProxyTestText(info.destAddress, "127.0.0.1");
    info.destPort = 80;
    socks::SocketHandle s = TestProxy(AF_INET, SOCK_STREAM, 0, &info);
    if (s == socks::kInvalidSocket)
        return false;
    ::close(s);
    return true;
}

const char* Env(const char* name, const char* fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string dir = argc > 1 ? argv[1] : "/tmp";
    int rounds = argc > 2 ? std::atoi(argv[2]) : 500;
    std::string path = dir + "/bench-client.db";
    std::remove(path.c_str());

    CConfigDb init;
    init.SetDbPath(path);
    if (!init.InitDatabase() || !init.SetSetting("Enable", "1")) {
        std::fprintf(stderr, "cannot prepare %s\n", path.c_str());
        return 1;
    }

    std::printf("median of %d rounds each, measured interleaved\n", rounds);
    auto bareOpen = [&] {
        sqlite3* db = nullptr;
        int rc = sqlite3_open(path.c_str(), &db);
        sqlite3_close(db);
        return rc == SQLITE_OK;
    };
    Report("store GetSetting (open,query,close)",
           Measure(
               rounds,
               [&] {
                   CConfigDb db;
                   db.SetDbPath(path);
                   std::string v;
                   return db.GetSetting("Enable", v);
               },
               bareOpen),
           3);
    Report("store LoadServer (open,query,close)",
           Measure(
               rounds,
               [&] {
                   CConfigDb db;
                   db.SetDbPath(path);
                   std::string ip, user, pass;
                   int port = 0, type = 0;
                   return db.LoadServer(ip, port, user, pass, type);
               },
               bareOpen),
           3);
    // A write commits through the journal; shown for information, the aim is for reads.
    std::printf("a write commits through the journal; shown for information:\n");
    Report("store SaveServer (open,update,close)",
           Measure(
               rounds / 5 + 1,
               [&] {
                   CConfigDb db;
                   db.SetDbPath(path);
                   return db.SaveServer(ServerRecord{"127.0.0.1", 1080, "u", "p", 5});
               },
               bareOpen),
           3);

    int base = std::atoi(Env("KESTREL_TEST_PORT_BASE", "41080"));
    const char* user = Env("KESTREL_TEST_SOCKS_USER", "kestreltest");
    const char* pass = Env("KESTREL_TEST_SOCKS_PASS", "kestrel-pass");
    struct Case {
        const char* what;
        int port;
        int protocol;
        bool auth;
    } cases[] = {
        {"SOCKS 5 microsocks, no auth", base + 0, kProxyProtocolSocks5, false},
        {"SOCKS 5 microsocks, user/password", base + 1, kProxyProtocolSocks5, true},
        {"SOCKS 4 Dante", base + 2, kProxyProtocolSocks4, false},
        {"SOCKS 5 Dante, no auth", base + 2, kProxyProtocolSocks5, false},
        {"SOCKS 5 Dante, user/password", base + 3, kProxyProtocolSocks5, true},
    };
    int proxyRounds = rounds / 2 + 1;
    for (const Case& c : cases) {
        Report(c.what,
               Measure(
                   proxyRounds,
                   [&] {
                       return ProxyTest(c.port, c.protocol, c.auth ? user : "", c.auth ? pass : "");
                   },
                   [&] { return BareConnect(c.port); },
                   [&] {
                       return LeastClient(c.port, c.protocol, c.auth ? user : "",
                                          c.auth ? pass : "");
                   }),
               4);
    }
    std::remove(path.c_str());
    return 0;
}
