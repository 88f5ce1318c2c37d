// bench/proxy_bench.cpp
// What the proxying component costs, measured under Wine inside the proxy
// tests' private network namespace (tests/proxy/run-isolated), side by side:
// - a covered program's connect through the relay against the least client
//   that does the same SOCKS 5 handshake itself on a plain socket;
// - starting a small program through the launcher against starting it
//   directly.
// Both sides of each pair run alternately in batches, so that a busy machine
// slows them alike.
//   kestrel_proxy_bench [ROUNDS]            drives the measurements
//   kestrel_proxy_bench hooked|least N FILE  the timed connects, medians to FILE
//   kestrel_proxy_bench idle                 starts and ends
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
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

// Each round: a new socket, a connect (through the library, or to the relay
// followed by the handshake), close. Only the connect part is timed.
int TimedConnects(bool hooked, int rounds, const std::string& resultFile)
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
        if (hooked)
            ok = connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
        else
            ok = connect(s, reinterpret_cast<const sockaddr*>(&relay), sizeof relay) == 0 &&
                 LeastHandshake(s, target);
        times.push_back(MicrosecondsSince(start));
        failures += ok ? 0 : 1;
        closesocket(s);
    }
    if (std::FILE* out = std::fopen(resultFile.c_str(), "w")) {
        for (double t : times)
            std::fprintf(out, "%.1f\n", t);
        std::fclose(out);
    }
    return failures == 0 ? 0 : 1;
}

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
#ifdef _WIN64
    const std::string launcherName = "KestrelRun64.exe";
    const std::string hookName = "KestrelHook64.dll";
#else
    const std::string launcherName = "KestrelRun.exe";
    const std::string hookName = "KestrelHook.dll";
#endif
    const std::string folder = WindowsPath(Env("KESTREL_PROXY_WORK")) + "\\bench";
    std::filesystem::create_directories(folder);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    const std::string bench = folder + "\\bench.exe";
    const std::string launcher = folder + "\\" + launcherName;
    if (!CopyFileA(self, bench.c_str(), FALSE) ||
        !CopyFileA(WindowsPath(Env("KESTREL_PROXY_RUN")).c_str(), launcher.c_str(), FALSE) ||
        !CopyFileA(WindowsPath(Env("KESTREL_PROXY_HOOK")).c_str(),
                   (folder + "\\" + hookName).c_str(), FALSE)) {
        std::fprintf(stderr, "cannot prepare %s\n", folder.c_str());
        return 1;
    }
    CConfigDb db;
    db.SetDbPath(folder + "\\client.db");
    db.InitDatabase();
    db.SaveServer({"127.0.0.1", std::atoi(Env("KESTREL_PROXY_RELAY_PORT").c_str()), "", "", 5});
    db.SetSetting("Enable", "1");
    db.SetSetting("ApplyArea", "All");

    const int batches = 5;
    const int perBatch = std::max(1, rounds / batches);
    std::vector<double> hooked;
    std::vector<double> least;
    std::vector<double> direct;
    std::vector<double> launched;
    bool ok = true;
    const std::string times = folder + "\\times.txt";
    for (int batch = 0; batch < batches; ++batch) {
        const std::string n = std::to_string(perBatch) + " \"" + times + "\"";
        ok =
            TimedRun("\"" + launcher + "\" -wait \"" + bench + "\" hooked " + n, folder) >= 0 && ok;
        for (double t : ReadTimes(times))
            hooked.push_back(t);
        ok = TimedRun("\"" + bench + "\" least " + n, folder) >= 0 && ok;
        for (double t : ReadTimes(times))
            least.push_back(t);
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
    const double d = Median(direct);
    const double c = Median(launched);
    std::printf(
        "start of a small program           %8.1f ms  through the launcher %8.1f ms  "
        "injection costs %.1f ms (%zu starts each)\n",
        d, c, c - d, direct.size());
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
    if ((mode == "hooked" || mode == "least") && argc > 3)
        return TimedConnects(mode == "hooked", std::atoi(argv[2]), argv[3]);
    return Drive(argc > 1 ? std::max(5, std::atoi(argv[1])) : 500);
}
