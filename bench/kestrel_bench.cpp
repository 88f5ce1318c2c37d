// bench/kestrel_bench.cpp
// Prints what each store operation and one proxy test cost next to the least
// code doing the same directly (SQLite's own calls with the same statement; a
// minimal SOCKS client) and next to the bare work neither can avoid: opening
// and closing the database file, a TCP connect and close to the proxy. The
// sides are measured interleaved in one run, so a busy machine slows them
// alike and the ratios stay meaningful.
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
        // Every other round the least code goes first: a write's commit can
        // slow down whatever follows it.
        if (reference && i % 2 == 1)
            c.push_back(TimeUs(reference, p.ok));
        a.push_back(TimeUs(work, p.ok));
        b.push_back(TimeUs(bare, p.ok));
        if (reference && i % 2 == 0)
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

// A store operation next to the least code doing the same against SQLite.
void ReportStore(const char* what, const Pair& p)
{
    std::printf(
        "  %-30s %7.1f us  least SQLite %7.1f us  ratio %4.2f (aim <= 1.1x)  open+close "
        "%6.1f us%s\n",
        what, p.work, p.reference, p.reference > 0 ? p.work / p.reference : 0, p.bare,
        p.ok ? "" : "  FAILED RUNS");
}

// The least a query of the store can do: open, the statement, every row's text
// copied out, close. Returns the number of values read, -1 on failure.
int LeastQuery(const std::string& path, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_stmt* st = nullptr;
    int values = -1;
    if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK) {
        std::string text;
        values = 0;
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(st); ++c, ++values) {
                const unsigned char* cell = sqlite3_column_text(st, c);
                text.assign(cell ? reinterpret_cast<const char*>(cell) : "");
            }
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return values;
}

// The least a write of the store can do: open, the statements, close.
bool LeastExec(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
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
    auto store = [&] {
        CConfigDb db;
        db.SetDbPath(path);
        return db;
    };
    for (const char* app : {"C:\\Windows\\notepad.exe", "C:\\Program Files\\App\\app.exe"})
        store().AddApp(app);

    std::printf("store operations against the least SQLite doing the same statement:\n");
    ReportStore("GetSetting", Measure(
                                  rounds,
                                  [&] {
                                      std::string v;
                                      return store().GetSetting("Enable", v);
                                  },
                                  bareOpen,
                                  [&] {
                                      return LeastQuery(path,
                                                        "Select SVALUE From Setting Where SKEY = "
                                                        "'Enable' ") == 1;
                                  }));
    ReportStore("LoadServer", Measure(
                                  rounds,
                                  [&] {
                                      std::string ip, user, pass;
                                      int port = 0, type = 0;
                                      return store().LoadServer(ip, port, user, pass, type);
                                  },
                                  bareOpen,
                                  [&] {
                                      return LeastQuery(
                                                 path,
                                                 "Select IP,Port,UserName,Password,Type "
                                                 "From Server Where Name = 'SingleServer' ") == 5;
                                  }));
    ReportStore("LoadApps",
                Measure(
                    rounds,
                    [&] {
                        std::vector<std::string> apps;
                        return store().LoadApps(apps) && apps.size() == 2;
                    },
                    bareOpen, [&] { return LeastQuery(path, "Select Path From App") == 2; }));

    // Writes commit through the journal, so fewer rounds.
    const int writeRounds = rounds / 5 + 1;
    ReportStore("InitDatabase (existing file)",
                Measure(
                    writeRounds, [&] { return store().InitDatabase(); }, bareOpen,
                    [&] {
                        // The same statements in one connection; the default row is refused,
                        // as it is already there.
                        return !LeastExec(
                            path,
                            "CREATE TABLE IF NOT EXISTS App (Path TEXT(512) UNIQUE);"
                            "CREATE TABLE IF NOT EXISTS Server (Name TEXT(100) UNIQUE, "
                            "IP TEXT(512), Port INT, Username TEXT(50), Password "
                            "TEXT(50), Type INT);"
                            "CREATE TABLE IF NOT EXISTS Setting (SKEY TEXT(20) "
                            "UNIQUE, SVALUE TEXT(100));"
                            "INSERT INTO Server (Name, IP, Port, Username, "
                            "Password, Type) values ('SingleServer', '', 1080, "
                            "'', '', 5)");
                    }));
    ReportStore("SetSetting (existing key)",
                Measure(
                    writeRounds, [&] { return store().SetSetting("Enable", "1"); }, bareOpen,
                    [&] {
                        return LeastExec(path,
                                         "Update Setting Set SVALUE = '1' Where SKEY = 'Enable'");
                    }));
    ReportStore("SaveServer",
                Measure(
                    writeRounds,
                    [&] {
                        return store().SaveServer(ServerRecord{"127.0.0.1", 1080, "u", "p", 5});
                    },
                    bareOpen,
                    [&] {
                        return LeastExec(path,
                                         "Update Server Set IP = '127.0.0.1',Port = 1080,"
                                         "Username = 'u',Password = 'p', Type = 5  Where "
                                         "Name = 'SingleServer'");
                    }));
    // Each round adds a path of its own, and the next measurement deletes them again.
    int added = 0, leastAdded = 0, deleted = 0, leastDeleted = 0;
    auto appPath = [](const char* side, int n) {
        return std::string("C:\\bench\\") + side + std::to_string(n) + ".exe";
    };
    ReportStore("AddApp",
                Measure(
                    writeRounds, [&] { return store().AddApp(appPath("s", added++)); }, bareOpen,
                    [&] {
                        return LeastExec(path, "INSERT INTO App (Path) values ('" +
                                                   appPath("l", leastAdded++) + "')");
                    }));
    ReportStore(
        "DeleteApp",
        Measure(
            writeRounds, [&] { return store().DeleteApp(appPath("s", deleted++)); }, bareOpen,
            [&] {
                return LeastExec(
                    path, "Delete From App Where Path = '" + appPath("l", leastDeleted++) + "'");
            }));
    std::printf("\n");

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
