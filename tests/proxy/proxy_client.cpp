// tests/proxy/proxy_client.cpp
// A small program started through the launcher by the proxy tests. It makes
// one connection in the way it is told, sends a line, expects it echoed, and
// writes what happened to a result file:
//   proxy_client RESULT STYLE ADDRESS PORT      one connection
//   proxy_client RESULT hold ADDRESS PORT EVENT connect, wait for EVENT, connect
//   proxy_client RESULT spawn|spawnw PROGRAM [ARGS...]  start PROGRAM, wait
// STYLE is blocking, nonblocking, wsaconnect, getprocaddress, connectex,
// thread, ctor (the connection is made by a global constructor) or ipv6.
// A result line reads "ok PEER ELAPSED_MS" or "error CODE ELAPSED_MS".
#include <winsock2.h>
#include <windows.h>
#include <mswsock.h>
#include <shellapi.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Outcome {
    int error = 0;  // 0: connected and echoed
    std::string peer;
    long long elapsedMs = 0;
};

using Clock = std::chrono::steady_clock;

int LastError(int fallback)
{
    const int error = WSAGetLastError();
    return error != 0 ? error : fallback;
}

// The peer the socket is connected to, as the program sees it: the proxy
// when the connection was redirected.
std::string PeerOf(SOCKET s)
{
    sockaddr_in peer{};
    int length = sizeof peer;
    if (getpeername(s, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
        return "?";
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&peer.sin_addr);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]) + ":" + std::to_string(ntohs(peer.sin_port));
}

int Echo(SOCKET s)
{
    const std::string line = "kestrel echo " + std::to_string(GetCurrentProcessId()) + "\n";
    if (send(s, line.data(), static_cast<int>(line.size()), 0) != static_cast<int>(line.size()))
        return LastError(-1);
    std::string back;
    char buffer[256];
    while (back.size() < line.size()) {
        const int count = recv(s, buffer, sizeof buffer, 0);
        if (count <= 0)
            return count == 0 ? -2 : LastError(-2);
        back.append(buffer, static_cast<std::size_t>(count));
    }
    return back == line ? 0 : -3;
}

int ConnectBlocking(SOCKET s, const sockaddr* to, int length)
{
    return connect(s, to, length) == 0 ? 0 : LastError(-1);
}

int ConnectBlocking(SOCKET s, const sockaddr_in& to)
{
    return ConnectBlocking(s, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

int ConnectWsa(SOCKET s, const sockaddr_in& to)
{
    return WSAConnect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to, nullptr, nullptr,
                      nullptr, nullptr) == 0
               ? 0
               : LastError(-1);
}

int ConnectLookedUp(SOCKET s, const sockaddr_in& to)
{
    using ConnectFunction = int(WSAAPI*)(SOCKET, const sockaddr*, int);
    const auto function = reinterpret_cast<ConnectFunction>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("ws2_32.dll"), "connect")));
    if (function == nullptr)
        return -4;
    return function(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 ? 0 : LastError(-1);
}

int ConnectNonBlocking(SOCKET s, const sockaddr_in& to)
{
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return LastError(-1);
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval wait{30, 0};
        if (select(0, nullptr, &writable, &failed, &wait) != 1)
            return -5;
        int error = 0;
        int length = sizeof error;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
        if (error != 0)
            return error;
    }
    u_long off = 0;
    ioctlsocket(s, FIONBIO, &off);
    return 0;
}

int ConnectOverlapped(SOCKET s, const sockaddr_in& to)
{
    LPFN_CONNECTEX connectEx = nullptr;
    GUID id = WSAID_CONNECTEX;
    DWORD returned = 0;
    if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &connectEx,
                 sizeof connectEx, &returned, nullptr, nullptr) != 0)
        return LastError(-6);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (bind(s, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0)
        return LastError(-7);
    HANDLE port = CreateIoCompletionPort(reinterpret_cast<HANDLE>(s), nullptr, 7, 0);
    if (port == nullptr)
        return -8;
    OVERLAPPED overlapped{};
    DWORD sent = 0;
    int result = 0;
    if (!connectEx(s, reinterpret_cast<const sockaddr*>(&to), sizeof to, nullptr, 0, &sent,
                   &overlapped) &&
        WSAGetLastError() != ERROR_IO_PENDING) {
        result = LastError(-1);
    } else {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* done = nullptr;
        if (!GetQueuedCompletionStatus(port, &bytes, &key, &done, 30000))
            result = done == nullptr ? -9 : static_cast<int>(GetLastError());
        else if (done != &overlapped || key != 7)
            result = -10;
        else
            setsockopt(s, SOL_SOCKET, SO_UPDATE_CONNECT_CONTEXT, nullptr, 0);
    }
    CloseHandle(port);
    return result;
}

Outcome RunIpv6(const std::string& address, int port)
{
    Outcome outcome;
    SOCKET s = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(static_cast<u_short>(port));
    inet_pton(AF_INET6, address.c_str(), &to.sin6_addr);
    outcome.error = ConnectBlocking(s, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (outcome.error == 0)
        outcome.error = Echo(s);
    closesocket(s);
    return outcome;
}

Outcome Run(const std::string& style, const std::string& address, int port)
{
    if (style == "ipv6")
        return RunIpv6(address, port);
    Outcome outcome;
    const auto start = Clock::now();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(port));
    to.sin_addr.s_addr = inet_addr(address.c_str());
    if (style == "blocking" || style == "ctor" || style == "hold")
        outcome.error = ConnectBlocking(s, to);
    else if (style == "nonblocking")
        outcome.error = ConnectNonBlocking(s, to);
    else if (style == "wsaconnect")
        outcome.error = ConnectWsa(s, to);
    else if (style == "getprocaddress")
        outcome.error = ConnectLookedUp(s, to);
    else if (style == "connectex")
        outcome.error = ConnectOverlapped(s, to);
    else if (style == "thread")
        std::thread([&] { outcome.error = ConnectBlocking(s, to); }).join();
    else
        outcome.error = -100;
    outcome.elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (outcome.error == 0) {
        outcome.peer = PeerOf(s);
        outcome.error = Echo(s);
    }
    closesocket(s);
    return outcome;
}

std::string Describe(const Outcome& outcome)
{
    if (outcome.error == 0)
        return "ok " + outcome.peer + " " + std::to_string(outcome.elapsedMs);
    return "error " + std::to_string(outcome.error) + " " + std::to_string(outcome.elapsedMs);
}

std::vector<std::string> Arguments()
{
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; i < count; ++i) {
        char ansi[1024] = {};
        WideCharToMultiByte(CP_ACP, 0, wide[i], -1, ansi, sizeof ansi, nullptr, nullptr);
        arguments.push_back(ansi);
    }
    LocalFree(wide);
    return arguments;
}

// A connection made before main, as static initialisers of real programs
// make them.
struct EarlyConnection {
    EarlyConnection()
    {
        const std::vector<std::string> arguments = Arguments();
        if (arguments.size() < 5 || arguments[2] != "ctor")
            return;
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        made = true;
        outcome = Run("ctor", arguments[3], std::atoi(arguments[4].c_str()));
    }
    bool made = false;
    Outcome outcome;
} g_early;

int Spawn(const std::vector<std::string>& arguments, bool wide)
{
    std::string line;
    for (std::size_t i = 3; i < arguments.size(); ++i)
        line += (i > 3 ? " \"" : "\"") + arguments[i] + "\"";
    STARTUPINFOA startupA{};
    startupA.cb = sizeof startupA;
    STARTUPINFOW startupW{};
    startupW.cb = sizeof startupW;
    PROCESS_INFORMATION info{};
    BOOL started = FALSE;
    if (wide) {
        std::wstring wideLine(line.size() + 1, L'\0');
        MultiByteToWideChar(CP_ACP, 0, line.c_str(), -1, &wideLine[0],
                            static_cast<int>(wideLine.size()));
        started = CreateProcessW(nullptr, &wideLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startupW, &info);
    } else {
        std::vector<char> mutableLine(line.begin(), line.end());
        mutableLine.push_back('\0');
        started = CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startupA, &info);
    }
    if (!started)
        return -static_cast<int>(GetLastError());
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return static_cast<int>(code);
}

}  // namespace

int main()
{
    const std::vector<std::string> arguments = Arguments();
    if (arguments.size() < 4)
        return 2;
    std::FILE* result = std::fopen(arguments[1].c_str(), "w");
    if (result == nullptr)
        return 3;
    const std::string& style = arguments[2];
    int failures = 0;
    auto report = [&](const Outcome& outcome) {
        std::fprintf(result, "%s\n", Describe(outcome).c_str());
        std::fflush(result);
        failures += outcome.error != 0;
    };
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    if (style == "spawn" || style == "spawnw") {
        const int code = Spawn(arguments, style == "spawnw");
        std::fprintf(result, "spawned %d\n", code);
        failures = code != 0;
    } else if (arguments.size() >= 5) {
        const int port = std::atoi(arguments[4].c_str());
        if (g_early.made) {
            report(g_early.outcome);
        } else {
            report(Run(style, arguments[3], port));
        }
        if (style == "hold" && arguments.size() >= 6) {
            HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, arguments[5].c_str());
            WaitForSingleObject(event, 60000);
            CloseHandle(event);
            report(Run(style, arguments[3], port));
        }
    }
    std::fclose(result);
    WSACleanup();
    return failures == 0 ? 0 : 1;
}
