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
//   same server (microsocks) by the least client;
// - a small program started by a shell that the resident agent has given the
//   library against the same start by a shell without it, with "Enable" "1"
//   (the child gets the library) and "0" (the shell hands nothing on);
//   beside it, where an attached start's time goes: loading the library and
//   its start function, each in a program started directly;
// - the resident agent's CPU time over an idle minute, against the least code
//   that lists the processes once a second for as long.
// Both sides of each pair run alternately in batches, so that a busy machine
// slows them alike.
//   kestrel_proxy_bench [ROUNDS]            drives the measurements
//   kestrel_proxy_bench resident             drives the resident agent's only
//   kestrel_proxy_bench hooked|named|least N FILE  the timed connects, times to FILE
//   kestrel_proxy_bench lookup N FILE        name and numeric lookups in turn, N times each to FILE
//   kestrel_proxy_bench parallel N FILE      N connects at once, total time to FILE
//   kestrel_proxy_bench pull hooked|least PORT BYTES FILE  one transfer, time to FILE
//   kestrel_proxy_bench shell carrier|plain library|none N FILE PROGRAM
//                                            as a shell: waits until it carries the
//                                            library (or not), N timed starts of
//                                            PROGRAM idle to FILE; checks whether
//                                            the children got the library
//   kestrel_proxy_bench hold FILE            as a shell: waits for the library,
//                                            says so in FILE, then stays
//   kestrel_proxy_bench poll SECONDS         lists the processes once a second
//   kestrel_proxy_bench carried FILE         writes 1 to FILE when it has the library
//   kestrel_proxy_bench library DLL FOLDER FILE  loads the library and calls its start
//                                            function (client.db in FOLDER), both
//                                            times to FILE
//   kestrel_proxy_bench load DLL FILE        the time of loading DLL to FILE
//   kestrel_proxy_bench idle                 starts and ends
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "injection/handoff.h"
#include "injection/start_block.h"
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

// Whether a module whose name starts with KestrelHook is loaded here.
bool CarriesLibrary()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Module32FirstW(snapshot, &entry); more && !found;
         more = Module32NextW(snapshot, &entry))
        found = _wcsnicmp(entry.szModule, L"KestrelHook", 11) == 0;
    CloseHandle(snapshot);
    return found;
}

// Waits up to 10 s for the agent to have put the library into this process
// (which it then marks as a carrier).
bool WaitForLibrary(Clock::time_point deadline)
{
    const std::wstring marker = L"Local\\KestrelCarrier." + std::to_wstring(GetCurrentProcessId());
    for (;;) {
        if (CarriesLibrary()) {
            if (HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, marker.c_str())) {
                CloseHandle(event);
                return true;
            }
        }
        if (Clock::now() > deadline)
            return false;
        Sleep(10);
    }
}

std::wstring Wide(const std::string& text)
{
    std::wstring wide(text.size() + 1, L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0],
                                           static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<std::size_t>(length - 1) : 0);
    return wide;
}

// One start with CreateProcessW as a shell makes it, waited for to its end:
// the times to CreateProcessW's return and to the end; false when it failed.
bool TimedStart(const std::wstring& commandLine, const std::wstring& folder, double& returned,
                double& ended)
{
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const auto start = Clock::now();
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &info)) {
        std::fprintf(stderr, "shell: CreateProcessW failed (%lu)\n", GetLastError());
        return false;
    }
    returned = MicrosecondsSince(start);
    WaitForSingleObject(info.hProcess, 60000);
    ended = MicrosecondsSince(start);
    DWORD code = 1;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    if (code != 0)
        std::fprintf(stderr, "shell: a child ended with 0x%lx after %.1f ms\n", code,
                     ended / 1000);
    return code == 0;
}

// Whether a child started from here with CreateProcessW got the library.
bool ChildCarries(const std::wstring& program, const std::wstring& folder, const std::string& file,
                  bool& ok)
{
    std::remove(file.c_str());
    double returned = 0;
    double ended = 0;
    ok = TimedStart(L"\"" + program + L"\" carried \"" + Wide(file) + L"\"", folder, returned,
                    ended) &&
         ok;
    const std::vector<double> got = ReadTimes(file);
    return got.size() == 1 && got[0] != 0;
}

// As a shell: waits until it carries the library (or makes sure it does
// not) and until its children get the library when they should (the marker
// comes a moment before the library's start is over), then starts `program`
// `rounds` times, writing for each the times to CreateProcessW's return and
// to the end, in turn. Last a child tells again whether it got the library.
int Shell(bool carrier, bool childLibrary, int rounds, const std::string& file,
          const std::string& program)
{
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    if (carrier ? !WaitForLibrary(deadline) : CarriesLibrary()) {
        std::fprintf(stderr, "shell: %s\n",
                     carrier ? "the library did not arrive within 10 s" : "carries the library");
        return 1;
    }
    const std::wstring path = Wide(program);
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    const std::string check = file + ".carried";
    bool ok = true;
    while (ChildCarries(path, folder, check, ok) != childLibrary) {
        if (!childLibrary || Clock::now() > deadline) {
            std::fprintf(stderr, "shell: the first child %s the library\n",
                         childLibrary ? "did not get" : "got");
            return 1;
        }
    }
    const std::wstring idle = L"\"" + path + L"\" idle";
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        double returned = 0;
        double ended = 0;
        ok = TimedStart(idle, folder, returned, ended) && ok;
        times.push_back(returned);
        times.push_back(ended);
    }
    WriteTimes(file, times);
    if (ChildCarries(path, folder, check, ok) != childLibrary) {
        std::fprintf(stderr, "shell: the last child %s the library\n",
                     childLibrary ? "did not get" : "got");
        ok = false;
    }
    if (!carrier && CarriesLibrary()) {
        std::fprintf(stderr, "shell: got the library meanwhile\n");
        ok = false;
    }
    return ok ? 0 : 1;
}

// As a shell: waits for the library, says so in `file`, then stays until
// ended (at most five minutes).
int Hold(const std::string& file)
{
    if (!WaitForLibrary(Clock::now() + std::chrono::seconds(10)))
        return 1;
    WriteTimes(file, {1.0});
    Sleep(300000);
    return 0;
}

// In this process, what the library does in a child it is put into: its
// loading, then its start function with client.db in `configFolder`; the
// two times to `file`.
int LibraryStart(const std::string& library, const std::string& configFolder,
                 const std::string& file)
{
    const std::wstring path = Wide(library);
    const auto start = Clock::now();
    const HMODULE module = LoadLibraryW(path.c_str());
    const double loaded = MicrosecondsSince(start);
    if (module == nullptr)
        return 1;
    const auto function = reinterpret_cast<injection::StartFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, injection::kStartFunctionName)));
    const auto block = std::make_unique<injection::StartBlock>();
    injection::Handoff handoff;
    handoff.configFolder = Wide(configFolder);
    if (function == nullptr || !injection::FillStartBlock(*block, path, handoff, 0))
        return 1;
    const auto begun = Clock::now();
    const BOOL started = function(block.get());
    WriteTimes(file, {loaded, MicrosecondsSince(begun)});
    return started ? 0 : 1;
}

int TimedLoad(const std::string& library, const std::string& file)
{
    const auto start = Clock::now();
    const HMODULE module = LoadLibraryA(library.c_str());
    WriteTimes(file, {MicrosecondsSince(start)});
    return module != nullptr ? 0 : 1;
}

// Where the time of an attached start goes, each part in fresh processes
// started directly: loading the library (and user32 alone, which the bench
// does not load otherwise), its start function with "Enable" "0" (reading
// client.db) and covering the process (reading, then patching).
void MeasureLibraryParts(const std::string& root, const Folder& folder, bool& ok)
{
#ifdef _WIN64
    const std::string library = folder.path + "\\KestrelHook64.dll";
#else
    const std::string library = folder.path + "\\KestrelHook.dll";
#endif
    const std::string off = root + "\\agent-off";
    std::filesystem::create_directories(off);
    {
        CConfigDb db;
        db.SetDbPath(off + "\\client.db");
        db.InitDatabase();
        db.SetSetting("Enable", "0");
    }
    const std::string file = folder.path + "\\parts.txt";
    std::vector<double> load, user32, decide, cover;
    const auto run = [&](const std::string& arguments) {
        std::remove(file.c_str());
        ok = TimedRun("\"" + folder.bench + "\" " + arguments + " \"" + file + "\"", folder.path) >=
                 0 &&
             ok;
        return ReadTimes(file);
    };
    for (int i = 0; i < 10; ++i) {
        for (const bool covered : {true, false}) {
            const std::vector<double> got =
                run("library \"" + library + "\" \"" + (covered ? folder.path : off) + "\"");
            if (got.size() == 2) {
                load.push_back(got[0] / 1000);
                (covered ? cover : decide).push_back(got[1] / 1000);
            }
        }
        for (double t : run("load user32.dll"))
            user32.push_back(t / 1000);
    }
    std::printf(
        "  an attached start's parts: loading the library %.1f ms (user32 alone %.1f ms), "
        "its start not covering %.1f ms, covering %.1f ms (%zu each)\n",
        Median(load), Median(user32), Median(decide), Median(cover), cover.size());
}

// The agent program to measure: KESTREL_PROXY_AGENT, or the one of the
// library's build (<build>/agent/KestrelAgent.exe beside <build>/hook/).
std::string AgentSource()
{
    const std::string agent = Env("KESTREL_PROXY_AGENT");
    if (!agent.empty())
        return WindowsPath(agent);
    const std::filesystem::path hook = WindowsPath(Env("KESTREL_PROXY_HOOK"));
    return (hook.parent_path().parent_path() / "agent" / "KestrelAgent.exe").string();
}

HANDLE StartAgent(const Folder& folder)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string line = "\"" + folder.path + "\\KestrelAgent.exe\"";
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.path.c_str(), &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    // One that finds another running ends at once.
    if (WaitForSingleObject(info.hProcess, 500) == WAIT_OBJECT_0) {
        CloseHandle(info.hProcess);
        return nullptr;
    }
    return info.hProcess;
}

// "KestrelAgent.exe -exit", then the agent must have ended within 10 s.
bool StopAgent(const Folder& folder, HANDLE agent)
{
    TimedRun("\"" + folder.path + "\\KestrelAgent.exe\" -exit", folder.path);
    const bool ended = WaitForSingleObject(agent, 10000) == WAIT_OBJECT_0;
    if (!ended) {
        std::printf("the resident agent did not end on -exit\n");
        TerminateProcess(agent, 1);
        WaitForSingleObject(agent, 5000);
    }
    CloseHandle(agent);
    return ended;
}

std::string ReadWhole(const std::string& file)
{
    std::string text;
    if (std::FILE* in = std::fopen(file.c_str(), "rb")) {
        char buffer[4096];
        for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
            text.append(buffer, count);
        std::fclose(in);
    }
    return text;
}

// Linux's count of CPU time (user + system, all threads, in ms) of the first
// process whose command line holds `command` (case-insensitive) and, when
// `environment` is not empty, whose environment holds it as one entry; -1
// when there is none. Wine gives no times for other processes, so the bench
// reads them as the system keeps them, through drive Z:.
double LinuxCpuMs(std::string command, const std::string& environment)
{
    const auto lower = [](std::string text) {
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    command = lower(command);
    WIN32_FIND_DATAA found{};
    const HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return -1;
    double ms = -1;
    do {
        const std::string pid = found.cFileName;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string dir = "Z:\\proc\\" + pid + "\\";
        std::string line = ReadWhole(dir + "cmdline");
        std::replace(line.begin(), line.end(), '\0', ' ');
        if (lower(line).find(command) == std::string::npos)
            continue;
        if (!environment.empty() &&
            (std::string(1, '\0') + ReadWhole(dir + "environ"))
                    .find(std::string(1, '\0') + environment + '\0') == std::string::npos)
            continue;
        const std::string stat = ReadWhole(dir + "stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        // After the name: state, then ten fields, then utime and stime.
        unsigned long long utime = 0;
        unsigned long long stime = 0;
        if (std::sscanf(stat.c_str() + close + 1,
                        " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                        &stime) == 2) {
            ms = static_cast<double>(utime + stime) * 10;  // USER_HZ is 100
            break;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return ms;
}

double OwnTimesMs(HANDLE process)
{
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return -1;
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000;
}

bool UnderWine()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

struct IdleCpu {
    double ms = 0;
    double seconds = 0;
    double serverMs = -1;  // the Wine server's, when under Wine
    bool fromLinux = false;
};

// A process's CPU time over one minute in which nothing else is measured.
// `command`: a text of its command line, to find it by under Wine.
IdleCpu MeasureIdleCpu(HANDLE process, const std::string& command)
{
    const std::string prefix = Env("WINEPREFIX");
    const std::string serverEnvironment = prefix.empty() ? "" : "WINEPREFIX=" + prefix;
    const bool wine = UnderWine();
    const double ownBefore = OwnTimesMs(process);
    const double linuxBefore = wine ? LinuxCpuMs(command, "") : -1;
    const double serverBefore =
        wine && !prefix.empty() ? LinuxCpuMs("wineserver", serverEnvironment) : -1;
    const auto start = Clock::now();
    Sleep(60000);
    const double ownAfter = OwnTimesMs(process);
    const double linuxAfter = wine ? LinuxCpuMs(command, "") : -1;
    const double serverAfter =
        wine && !prefix.empty() ? LinuxCpuMs("wineserver", serverEnvironment) : -1;
    IdleCpu cpu;
    cpu.seconds = MicrosecondsSince(start) / 1e6;
    cpu.fromLinux = wine && linuxBefore >= 0 && linuxAfter >= 0;
    cpu.ms = cpu.fromLinux ? linuxAfter - linuxBefore : ownAfter - ownBefore;
    if (serverBefore >= 0 && serverAfter >= 0)
        cpu.serverMs = serverAfter - serverBefore;
    return cpu;
}

// The resident agent: small starts from a shell it gave the library against
// starts from a shell without it, with "Enable" "1" and "0", alternately in
// batches; then its CPU time while idle for a minute beside one attached
// shell.
void MeasureResident(const std::string& root, bool& ok)
{
    const std::string source = AgentSource();
    if (GetFileAttributesA(source.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::printf("no resident agent at %s: its rows are left out\n", source.c_str());
        return;
    }
    Folder folder;
    if (!PrepareFolder(root + "\\agent",
                       {"127.0.0.1", std::atoi(Env("KESTREL_PROXY_RELAY_PORT").c_str()), "", "", 5},
                       folder) ||
        !CopyFileA(source.c_str(), (folder.path + "\\KestrelAgent.exe").c_str(), FALSE)) {
        std::printf("cannot prepare the resident agent's folder\n");
        ok = false;
        return;
    }
    // Each shell in a folder of its own, beside nothing else; only the one
    // named explorer.exe gets the library.
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    const std::string attachedShell = root + "\\shell\\explorer.exe";
    const std::string plainShell = root + "\\plain-shell\\kestrel_shell.exe";
    for (const std::string& shell : {attachedShell, plainShell}) {
        std::filesystem::create_directories(shell.substr(0, shell.find_last_of('\\')));
        if (!CopyFileA(self, shell.c_str(), FALSE)) {
            std::printf("cannot copy the bench to %s\n", shell.c_str());
            ok = false;
            return;
        }
    }
    const std::string times = folder.path + "\\shell-times.txt";
    const int batches = 10;
    const int perBatch = 5;
    for (const bool enabled : {true, false}) {
        {
            CConfigDb db;
            db.SetDbPath(folder.path + "\\client.db");
            db.SetSetting("Enable", enabled ? "1" : "0");
        }
        const HANDLE agent = StartAgent(folder);
        if (agent == nullptr) {
            std::printf("the resident agent did not start\n");
            ok = false;
            return;
        }
        std::vector<double> attachedReturn, attachedEnd, plainReturn, plainEnd;
        const auto run = [&](bool carrier, std::vector<double>& returned,
                             std::vector<double>& ended) {
            const std::string shell = carrier ? attachedShell : plainShell;
            const bool passed =
                TimedRun("\"" + shell + "\" shell " + (carrier ? "carrier " : "plain ") +
                             (carrier && enabled ? "library " : "none ") +
                             std::to_string(perBatch) + " \"" + times + "\" \"" + folder.bench +
                             "\"",
                         folder.path) >= 0;
            if (!passed)
                std::printf("a %s shell's run failed\n", carrier ? "carrier" : "plain");
            ok = passed && ok;
            const std::vector<double> got = ReadTimes(times);
            for (std::size_t i = 0; i + 1 < got.size(); i += 2) {
                returned.push_back(got[i] / 1000);
                ended.push_back(got[i + 1] / 1000);
            }
        };
        // Every other batch the unattached shell goes first.
        for (int batch = 0; batch < batches; ++batch) {
            const bool attachedFirst = batch % 2 == 0;
            run(attachedFirst, attachedFirst ? attachedReturn : plainReturn,
                attachedFirst ? attachedEnd : plainEnd);
            run(!attachedFirst, attachedFirst ? plainReturn : attachedReturn,
                attachedFirst ? plainEnd : attachedEnd);
        }
        ok = StopAgent(folder, agent) && ok;
        const double a = Median(attachedEnd);
        const double p = Median(plainEnd);
        std::printf(
            "start from an attached shell%s %8.1f ms  unattached shell %8.1f ms  ratio %4.2f "
            "(aim <= %s; %zu starts each; CreateProcessW returned after %.1f / %.1f ms)\n",
            enabled ? ",     " : ", off", a, p, p > 0 ? a / p : 0.0, enabled ? "1.2x" : "1.05x",
            attachedEnd.size(), Median(attachedReturn), Median(plainReturn));
    }

    MeasureLibraryParts(root, folder, ok);

    // Idle: one attached shell, nothing else happening.
    {
        CConfigDb db;
        db.SetDbPath(folder.path + "\\client.db");
        db.SetSetting("Enable", "1");
    }
    const HANDLE agent = StartAgent(folder);
    if (agent == nullptr) {
        std::printf("the resident agent did not start\n");
        ok = false;
        return;
    }
    const std::string held = root + "\\shell\\held.txt";
    std::remove(held.c_str());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION shell{};
    std::string line = "\"" + attachedShell + "\" hold \"" + held + "\"";
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.path.c_str(), &startup, &shell)) {
        std::printf("the shell for the idle minute did not start\n");
        StopAgent(folder, agent);
        ok = false;
        return;
    }
    CloseHandle(shell.hThread);
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (ReadTimes(held).empty() && Clock::now() < deadline &&
           WaitForSingleObject(shell.hProcess, 100) == WAIT_TIMEOUT) {
    }
    const bool attached = !ReadTimes(held).empty();
    // The agent looks every second for its first ten seconds; idle is after.
    Sleep(12000);
    const IdleCpu agentCpu = MeasureIdleCpu(agent, folder.path + "\\KestrelAgent.exe");
    TerminateProcess(shell.hProcess, 0);
    WaitForSingleObject(shell.hProcess, 5000);
    CloseHandle(shell.hProcess);
    ok = StopAgent(folder, agent) && attached && ok;
    if (!attached)
        std::printf("the shell for the idle minute did not get the library\n");

    // The least a polling agent does: a process list once a second, each
    // entry's name compared.
    std::string poll = "\"" + folder.bench + "\" poll 75";
    PROCESS_INFORMATION poller{};
    IdleCpu leastCpu;
    if (CreateProcessA(nullptr, &poll[0], nullptr, nullptr, FALSE, 0, nullptr,
                       folder.path.c_str(), &startup, &poller)) {
        CloseHandle(poller.hThread);
        Sleep(2000);
        leastCpu = MeasureIdleCpu(poller.hProcess, folder.bench + " poll");
        TerminateProcess(poller.hProcess, 0);
        WaitForSingleObject(poller.hProcess, 5000);
        CloseHandle(poller.hProcess);
    } else {
        ok = false;
    }
    std::printf(
        "resident agent idle for %.0f s       %8.0f ms CPU = %.3f %% of one core "
        "(aim < 0.05 %%; %s)\n",
        agentCpu.seconds, agentCpu.ms, agentCpu.ms / (10 * agentCpu.seconds),
        agentCpu.fromLinux ? "Linux's count of its Wine process, 10 ms ticks"
                           : "GetProcessTimes");
    std::printf(
        "  least code listing processes once a second %.0f ms CPU = %.3f %% of one core\n",
        leastCpu.ms, leastCpu.seconds > 0 ? leastCpu.ms / (10 * leastCpu.seconds) : 0.0);
    if (agentCpu.serverMs >= 0 && leastCpu.serverMs >= 0)
        std::printf(
            "  the Wine server meanwhile (for every Wine process) %.0f ms with the agent, "
            "%.0f ms with the least code\n",
            agentCpu.serverMs, leastCpu.serverMs);
}

// The least a polling agent does, for `seconds`.
int Poll(int seconds)
{
    int shells = 0;
    for (int i = 0; i < seconds; ++i) {
        const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot != INVALID_HANDLE_VALUE) {
            PROCESSENTRY32W entry{};
            entry.dwSize = sizeof entry;
            for (BOOL more = Process32FirstW(snapshot, &entry); more;
                 more = Process32NextW(snapshot, &entry))
                shells += _wcsicmp(entry.szExeFile, L"explorer.exe") == 0 ? 1 : 0;
            CloseHandle(snapshot);
        }
        Sleep(1000);
    }
    return shells > 0 ? 0 : 1;
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
    MeasureResident(root, ok);
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
    if (mode == "carried" && argc > 2) {
        WriteTimes(argv[2], {CarriesLibrary() ? 1.0 : 0.0});
        return 0;
    }
    if (mode == "library" && argc > 4)
        return LibraryStart(argv[2], argv[3], argv[4]);
    if (mode == "load" && argc > 3)
        return TimedLoad(argv[2], argv[3]);
    if (mode == "poll" && argc > 2)
        return Poll(std::atoi(argv[2]));
    if (mode == "hold" && argc > 2)
        return Hold(argv[2]);
    if (mode == "shell" && argc > 6)
        return Shell(std::string(argv[2]) == "carrier", std::string(argv[3]) == "library",
                     std::atoi(argv[4]), argv[5], argv[6]);
    if ((mode == "hooked" || mode == "named" || mode == "least") && argc > 3)
        return TimedConnects(mode, std::atoi(argv[2]), argv[3]);
    if (mode == "lookup" && argc > 3)
        return TimedLookups(std::atoi(argv[2]), argv[3]);
    if (mode == "parallel" && argc > 3)
        return ParallelConnects(std::atoi(argv[2]), argv[3]);
    if (mode == "pull" && argc > 5)
        return Pull(std::string(argv[2]) == "hooked", std::atoi(argv[3]), std::atoll(argv[4]),
                    argv[5]);
    if (mode == "resident") {
        bool ok = true;
        MeasureResident(WindowsPath(Env("KESTREL_PROXY_WORK")), ok);
        return ok ? 0 : 1;
    }
    return Drive(argc > 1 ? std::max(5, std::atoi(argv[1])) : 500);
}
