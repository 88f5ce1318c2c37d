// bench/proxy_bench.cpp
// What the proxying component costs, measured under Wine inside the proxy
// tests' private network namespace (tests/proxy/run-isolated), side by side:
// - a covered program's connect through the relay against the least client
//   that does the same SOCKS 5 handshake itself on a plain socket;
// - a covered program's lookup of a name, answered in process, against its
//   lookup of a numeric address;
// - a covered program's connect to a name (lookup, connect, SOCKS 5 by name)
//   against its connect to an IPv4 address, through the same relay;
// - starting a small program through the launcher against starting it
//   directly;
// - many non-blocking connects from one thread through a relay that delays
//   each reply, against one such connect: tunnels must open side by side;
// - a large transfer through a tunnel against the same transfer through the
//   same server (microsocks) by the least client.
// Both sides of each pair run alternately in batches, so that a busy machine
// slows them alike.
//   kestrel_proxy_bench [ROUNDS]            drives the measurements
//   kestrel_proxy_bench hooked|named|least N FILE  the timed connects, times to FILE
//   kestrel_proxy_bench lookup N FILE        name and numeric lookups in turn, N times each to FILE
//   kestrel_proxy_bench parallel N FILE      N connects at once, total time to FILE
//   kestrel_proxy_bench pull hooked|least PORT BYTES FILE  one transfer, time to FILE
//   kestrel_proxy_bench idle                 starts and ends
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "store/config_db.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

double MicrosecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string WindowsPath(std::string path)
{
    if (path.empty() || path[0] != '/')
        return path;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return "Z:" + path;
}

sockaddr_in Address(const std::string& ip, int port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(port));
    to.sin_addr.s_addr = inet_addr(ip.c_str());
    return to;
}

void WriteTimes(const std::string& file, const std::vector<double>& times)
{
    if (std::FILE* out = std::fopen(file.c_str(), "w")) {
        for (double t : times)
            std::fprintf(out, "%.3f\n", t);
        std::fclose(out);
    }
}

// A name only the relay knows; the open relay joins it to its echo server.
const char kBenchName[] = "bench.relay.test";

// getaddrinfo's first TCP IPv4 address for `host`, freed before returning.
bool Lookup(const char* host, int flags, sockaddr_in& found)
{
    addrinfo hints{};
    hints.ai_flags = flags;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(host, "7", &hints, &result) != 0)
        return false;
    std::memcpy(&found, result->ai_addr, sizeof found);
    freeaddrinfo(result);
    return true;
}

bool ReadExact(SOCKET s, char* buffer, int size)
{
    for (int got = 0; got < size;) {
        const int count = recv(s, buffer + got, size - got, 0);
        if (count <= 0)
            return false;
        got += count;
    }
    return true;
}

// The least a client can do: greeting, method reply, CONNECT, the 10-byte
// reply of an IPv4 bound address.
bool LeastHandshake(SOCKET s, const sockaddr_in& target)
{
    const char greeting[] = {5, 1, 0};
    char request[10] = {5, 1, 0, 1};
    std::memcpy(request + 4, &target.sin_addr, 4);
    std::memcpy(request + 8, &target.sin_port, 2);
    char reply[10];
    return send(s, greeting, sizeof greeting, 0) == sizeof greeting && ReadExact(s, reply, 2) &&
           reply[1] == 0 && send(s, request, sizeof request, 0) == sizeof request &&
           ReadExact(s, reply, 10) && reply[1] == 0;
}

// Each round: a new socket, a connect (through the library to the address,
// or to the name after looking it up; or to the relay followed by the
// handshake), close. Only the connect part, with any lookup, is timed.
int TimedConnects(const std::string& how, int rounds, const std::string& resultFile)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const sockaddr_in target = Address(Env("KESTREL_PROXY_ADDRESS"), 7);
    const sockaddr_in relay =
        Address("127.0.0.1", std::atoi(Env("KESTREL_PROXY_RELAY_PORT").c_str()));
    std::vector<double> times;
    int failures = 0;
    for (int i = 0; i < rounds; ++i) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        const auto start = Clock::now();
        bool ok = false;
        sockaddr_in named{};
        if (how == "hooked")
            ok = connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
        else if (how == "named")
            ok = Lookup(kBenchName, 0, named) &&
                 connect(s, reinterpret_cast<const sockaddr*>(&named), sizeof named) == 0;
        else
            ok = connect(s, reinterpret_cast<const sockaddr*>(&relay), sizeof relay) == 0 &&
                 LeastHandshake(s, target);
        times.push_back(MicrosecondsSince(start));
        failures += ok ? 0 : 1;
        closesocket(s);
    }
    WriteTimes(resultFile, times);
    return failures == 0 ? 0 : 1;
}

void WriteTime(const std::string& file, double microseconds)
{
    WriteTimes(file, {microseconds});
}

// A lookup takes about a microsecond, a few ticks of Wine's clock: each time
// is the mean of this many calls in a row.
constexpr int kLookupsPerTime = 16;

// Each round, in the same process: lookups of the name, which the library
// answers with an address of 198.18.0.0/15, then lookups of the numeric test
// address, each with its freeaddrinfo; the two times written in that order.
int TimedLookups(int rounds, const std::string& resultFile)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const std::string numeric = Env("KESTREL_PROXY_ADDRESS");
    std::vector<double> times;
    int failures = 0;
    for (int i = 0; i < rounds; ++i) {
        for (const bool byName : {true, false}) {
            const auto start = Clock::now();
            for (int call = 0; call < kLookupsPerTime; ++call) {
                sockaddr_in found{};
                const bool ok =
                    byName ? Lookup(kBenchName, 0, found) &&
                                 (ntohl(found.sin_addr.s_addr) & 0xFFFE0000u) == 0xC6120000u
                           : Lookup(numeric.c_str(), AI_NUMERICHOST, found);
                failures += ok ? 0 : 1;
            }
            times.push_back(MicrosecondsSince(start) / kLookupsPerTime);
        }
    }
    WriteTimes(resultFile, times);
    return failures == 0 ? 0 : 1;
}

// N non-blocking connects started together from one thread and waited for
// with select until every one is writable (the tunnel open) or failed.
int ParallelConnects(int count, const std::string& resultFile)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const sockaddr_in target = Address(Env("KESTREL_PROXY_ADDRESS"), 7);
    std::vector<SOCKET> pending;
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        u_long on = 1;
        ioctlsocket(s, FIONBIO, &on);
        if (connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0 &&
            WSAGetLastError() != WSAEWOULDBLOCK)
            return 1;
        pending.push_back(s);
    }
    int failures = 0;
    std::vector<SOCKET> done;
    while (!pending.empty()) {
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        for (SOCKET s : pending) {
            FD_SET(s, &writable);
            FD_SET(s, &failed);
        }
        timeval wait{30, 0};
        if (select(0, nullptr, &writable, &failed, &wait) <= 0)
            return 1;
        std::vector<SOCKET> still;
        for (SOCKET s : pending) {
            if (FD_ISSET(s, &failed))
                ++failures;
            if (FD_ISSET(s, &writable) || FD_ISSET(s, &failed))
                done.push_back(s);
            else
                still.push_back(s);
        }
        pending.swap(still);
    }
    WriteTime(resultFile, MicrosecondsSince(start));
    for (SOCKET s : done)
        closesocket(s);
    return failures == 0 ? 0 : 1;
}

// Reads `bytes` from a source on the test address, through the library
// (hooked) or through microsocks by the least client; only the transfer is
// timed, from the first byte asked for to the last received.
int Pull(bool hooked, int sourcePort, long long bytes, const std::string& resultFile)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const sockaddr_in target = Address(Env("KESTREL_PROXY_ADDRESS"), sourcePort);
    const sockaddr_in server =
        Address("127.0.0.1", std::atoi(Env("KESTREL_TEST_PORT_BASE").c_str()));
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const bool connected =
        hooked ? connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0
               : connect(s, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0 &&
                     LeastHandshake(s, target);
    if (!connected) {
        std::fprintf(stderr, "pull: no connection (%d)\n", WSAGetLastError());
        return 1;
    }
    std::vector<char> buffer(1 << 16);
    const auto start = Clock::now();
    const char go = 'g';
    send(s, &go, 1, 0);
    long long received = 0;
    while (received < bytes) {
        const int count = recv(s, buffer.data(), static_cast<int>(buffer.size()), 0);
        if (count <= 0)
            break;
        received += count;
    }
    WriteTime(resultFile, MicrosecondsSince(start));
    closesocket(s);
    if (received != bytes)
        std::fprintf(stderr, "pull: %lld of %lld bytes\n", received, bytes);
    return received == bytes ? 0 : 1;
}

// The transfers' source: each connection gets `bytes` after its first byte.
class Source {
public:
    Source(int port, long long bytes) : m_bytes(bytes)
    {
        m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        const sockaddr_in address = Address(Env("KESTREL_PROXY_ADDRESS"), port);
        bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        listen(m_listener, 4);
        m_thread = std::thread([this] { Serve(); });
    }
    ~Source()
    {
        closesocket(m_listener);
        m_thread.join();
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

private:
    void Serve()
    {
        std::vector<char> chunk(1 << 16, 'k');
        for (;;) {
            SOCKET s = accept(m_listener, nullptr, nullptr);
            if (s == INVALID_SOCKET)
                return;
            char go = 0;
            if (recv(s, &go, 1, 0) == 1) {
                for (long long sent = 0; sent < m_bytes;) {
                    const int size =
                        static_cast<int>(std::min<long long>(chunk.size(), m_bytes - sent));
                    const int count = send(s, chunk.data(), size, 0);
                    if (count <= 0)
                        break;
                    sent += count;
                }
            }
            shutdown(s, SD_SEND);
            closesocket(s);
        }
    }
    long long m_bytes;
    SOCKET m_listener = INVALID_SOCKET;
    std::thread m_thread;
};

// Wall time of one start to its end; negative when it failed.
double TimedRun(const std::string& commandLine, const std::string& folder)
{
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const auto start = Clock::now();
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &info))
        return -1;
    WaitForSingleObject(info.hProcess, 60000);
    const double elapsed = MicrosecondsSince(start);
    DWORD code = 1;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code == 0 ? elapsed : -1;
}

std::vector<double> ReadTimes(const std::string& file);

struct Folder {
    std::string path;
    std::string bench;
    std::string launcher;
};

// A folder with the bench, the launcher, the library and a client.db that
// sends every program through `server`.
bool PrepareFolder(const std::string& path, const ServerRecord& server, Folder& folder)
{
#ifdef _WIN64
    const std::string launcherName = "KestrelRun64.exe";
    const std::string hookName = "KestrelHook64.dll";
#else
    const std::string launcherName = "KestrelRun.exe";
    const std::string hookName = "KestrelHook.dll";
#endif
    std::filesystem::create_directories(path);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    folder = {path, path + "\\bench.exe", path + "\\" + launcherName};
    if (!CopyFileA(self, folder.bench.c_str(), FALSE) ||
        !CopyFileA(WindowsPath(Env("KESTREL_PROXY_RUN")).c_str(), folder.launcher.c_str(), FALSE) ||
        !CopyFileA(WindowsPath(Env("KESTREL_PROXY_HOOK")).c_str(), (path + "\\" + hookName).c_str(),
                   FALSE)) {
        std::fprintf(stderr, "cannot prepare %s\n", path.c_str());
        return false;
    }
    CConfigDb db;
    db.SetDbPath(path + "\\client.db");
    db.InitDatabase();
    db.SaveServer(server);
    db.SetSetting("Enable", "1");
    db.SetSetting("ApplyArea", "All");
    return true;
}

// Median wall times of `rounds` covered runs of the bench with `arguments`,
// each run writing its own time to the folder's times file.
double CoveredMedian(const Folder& folder, const std::string& arguments, int rounds, bool& ok)
{
    std::vector<double> times;
    const std::string file = folder.path + "\\times.txt";
    for (int i = 0; i < rounds; ++i) {
        ok = TimedRun("\"" + folder.launcher + "\" -wait \"" + folder.bench + "\" " + arguments +
                          " \"" + file + "\"",
                      folder.path) >= 0 &&
             ok;
        for (double t : ReadTimes(file))
            times.push_back(t);
    }
    return Median(times);
}

// Tunnels opened side by side: 32 at once against one, through the relay
// that delays each of its replies by 100 ms.
void MeasureParallel(const std::string& root, bool& ok)
{
    const int slowRelay = std::atoi(Env("KESTREL_PROXY_RELAY_PORT").c_str()) + 4;
    Folder folder;
    if (!PrepareFolder(root + "\\parallel", {"127.0.0.1", slowRelay, "", "", 5}, folder)) {
        ok = false;
        return;
    }
    const double one = CoveredMedian(folder, "parallel 1", 5, ok);
    const double many = CoveredMedian(folder, "parallel 32", 5, ok);
    std::printf(
        "32 non-blocking connects at once   %8.1f ms  one connect  %8.1f ms  ratio %4.2f "
        "(aim <= 1.5x; relay delays each reply 100 ms)\n",
        many / 1000, one / 1000, one > 0 ? many / one : 0.0);
}

// Throughput through a tunnel against the least client, both through
// microsocks to the same source.
void MeasureTransfer(const std::string& root, bool& ok)
{
    const long long bytes = 100LL * 1024 * 1024;
    const int port = std::atoi(Env("KESTREL_TEST_PORT_BASE").c_str()) + 30;
    const int microsocks = std::atoi(Env("KESTREL_TEST_PORT_BASE").c_str());
    Folder folder;
    if (!PrepareFolder(root + "\\transfer", {"127.0.0.1", microsocks, "", "", 5}, folder)) {
        ok = false;
        return;
    }
    Source source(port, bytes);
    const std::string file = folder.path + "\\times.txt";
    const std::string tail =
        std::to_string(port) + " " + std::to_string(bytes) + " \"" + file + "\"";
    std::vector<double> hooked;
    std::vector<double> least;
    for (int round = 0; round < 3; ++round) {
        ok = TimedRun(
                 "\"" + folder.launcher + "\" -wait \"" + folder.bench + "\" pull hooked " + tail,
                 folder.path) >= 0 &&
             ok;
        for (double t : ReadTimes(file))
            hooked.push_back(t);
        ok = TimedRun("\"" + folder.bench + "\" pull least " + tail, folder.path) >= 0 && ok;
        for (double t : ReadTimes(file))
            least.push_back(t);
    }
    const double h = Median(hooked);
    const double l = Median(least);
    const double mb = static_cast<double>(bytes) / (1024 * 1024);
    std::printf(
        "100 MB through a tunnel            %8.1f MB/s least client %8.1f MB/s ratio %4.2f "
        "(aim >= 0.9x; through microsocks)\n",
        h > 0 ? mb / (h / 1e6) : 0.0, l > 0 ? mb / (l / 1e6) : 0.0, h > 0 ? l / h : 0.0);
}

std::vector<double> ReadTimes(const std::string& file)
{
    std::vector<double> times;
    if (std::FILE* in = std::fopen(file.c_str(), "r")) {
        double t = 0;
        while (std::fscanf(in, "%lf", &t) == 1)
            times.push_back(t);
        std::fclose(in);
    }
    return times;
}

int Drive(int rounds)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);  // the transfer's source listens here
    const std::string root = WindowsPath(Env("KESTREL_PROXY_WORK"));
    Folder prepared;
    if (!PrepareFolder(root + "\\bench",
                       {"127.0.0.1", std::atoi(Env("KESTREL_PROXY_RELAY_PORT").c_str()), "", "", 5},
                       prepared))
        return 1;
    const std::string& folder = prepared.path;
    const std::string& bench = prepared.bench;
    const std::string& launcher = prepared.launcher;

    const int batches = 5;
    const int perBatch = std::max(1, rounds / batches);
    std::vector<double> hooked;
    std::vector<double> named;
    std::vector<double> least;
    std::vector<double> lookups;  // name, numeric, in turn
    std::vector<double> direct;
    std::vector<double> launched;
    bool ok = true;
    const std::string times = folder + "\\times.txt";
    const auto run = [&](const std::string& arguments, bool covered, std::vector<double>& into) {
        const std::string start = covered ? "\"" + launcher + "\" -wait " : "";
        const std::string command = start + "\"" + bench + "\" " + arguments + " \"" + times + "\"";
        ok = TimedRun(command, folder) >= 0 && ok;
        for (double t : ReadTimes(times))
            into.push_back(t);
    };
    for (int batch = 0; batch < batches; ++batch) {
        const std::string n = std::to_string(perBatch);
        run("hooked " + n, true, hooked);
        run("named " + n, true, named);
        run("least " + n, false, least);
        run("lookup " + n, true, lookups);
        for (int i = 0; i < 4; ++i) {
            const double plain = TimedRun("\"" + bench + "\" idle", folder);
            const double covered =
                TimedRun("\"" + launcher + "\" -wait \"" + bench + "\" idle", folder);
            ok = plain >= 0 && covered >= 0 && ok;
            direct.push_back(plain / 1000);
            launched.push_back(covered / 1000);
        }
    }
    const double h = Median(hooked);
    const double l = Median(least);
    std::printf(
        "covered connect through the relay  %8.1f us  least client %8.1f us  ratio %4.2f "
        "(aim <= 1.1x; %zu connects each)\n",
        h, l, l > 0 ? h / l : 0.0, hooked.size());
    std::vector<double> byName;
    std::vector<double> numeric;
    for (std::size_t i = 0; i + 1 < lookups.size(); i += 2) {
        byName.push_back(lookups[i]);
        numeric.push_back(lookups[i + 1]);
    }
    const double ln = Median(byName);
    const double lq = Median(numeric);
    std::printf(
        "lookup of a name, in process       %8.2f us  numeric lookup %8.2f us  ratio %4.2f "
        "(aim <= 2x; %zu calls each)\n",
        ln, lq, lq > 0 ? ln / lq : 0.0, byName.size() * kLookupsPerTime);
    const double n = Median(named);
    std::printf(
        "covered connect to a name          %8.1f us  to the address %8.1f us  ratio %4.2f "
        "(aim <= 1.1x; %zu connects each)\n",
        n, h, h > 0 ? n / h : 0.0, named.size());
    // Each named connect must have given the relay the name: one looked up
    // by the system would reach it as an address, or not at all.
    const std::string byNameLine =
        std::to_string(std::atoi(Env("KESTREL_PROXY_RELAY_PORT").c_str())) + " socks5 " +
        kBenchName + ":7";
    std::size_t seen = 0;
    if (std::FILE* in = std::fopen((root + "\\relay.log").c_str(), "r")) {
        for (char line[256]; std::fgets(line, sizeof line, in);)
            seen += byNameLine + "\n" == line ? 1 : 0;
        std::fclose(in);
    }
    if (seen != named.size()) {
        std::printf("the relay saw %zu of %zu connects by name\n", seen, named.size());
        ok = false;
    }
    const double d = Median(direct);
    const double c = Median(launched);
    std::printf(
        "start of a small program           %8.1f ms  through the launcher %8.1f ms  "
        "injection costs %.1f ms (%zu starts each)\n",
        d, c, c - d, direct.size());
    MeasureParallel(root, ok);
    MeasureTransfer(root, ok);
    if (!ok)
        std::printf("SOME RUNS FAILED\n");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "idle")
        return 0;
    if ((mode == "hooked" || mode == "named" || mode == "least") && argc > 3)
        return TimedConnects(mode, std::atoi(argv[2]), argv[3]);
    if (mode == "lookup" && argc > 3)
        return TimedLookups(std::atoi(argv[2]), argv[3]);
    if (mode == "parallel" && argc > 3)
        return ParallelConnects(std::atoi(argv[2]), argv[3]);
    if (mode == "pull" && argc > 5)
        return Pull(std::string(argv[2]) == "hooked", std::atoi(argv[3]), std::atoll(argv[4]),
                    argv[5]);
    return Drive(argc > 1 ? std::max(5, std::atoi(argv[1])) : 500);
}
