// tests/proxy/proxy_client.cpp
// A small program started through the launcher by the proxy tests. It makes
// connections in the way it is told, sends a line on each, expects it echoed,
// and writes what happened to a result file:
//   proxy_client RESULT STYLE ADDRESS PORT      one connection
//   proxy_client RESULT hold ADDRESS PORT EVENT connect, wait for EVENT, connect
//   proxy_client RESULT retry ADDRESS PORT      connect, then again on the socket
//   proxy_client RESULT parallel ADDRESS PORT N N non-blocking connects at once
//   proxy_client RESULT spawn|spawnw PROGRAM [ARGS...]  start PROGRAM, wait
//   proxy_client RESULT spawnsuspended|spawnasuser PROGRAM [ARGS...]  the same,
//       started suspended and then resumed, or with CreateProcessAsUserW
//   proxy_client RESULT spawnafter EVENT PROGRAM [ARGS...]  the same once EVENT is set
//   proxy_client RESULT echoarg TEXT            writes TEXT back, in UTF-8
//   proxy_client RESULT modules PREFIX          "1" when a module named PREFIX... is loaded
// proxy_client_delay is the same program with ws2_32.dll delay-loaded.
// STYLE is blocking, nonblocking (select), nonblockingwsa (WSAConnect, then
// select), poll (WSAPoll), eventselect, asyncselect, wsaconnect,
// getprocaddress, connectex (completion port), connectexevent, thread, ctor
// (made by a global constructor), ipv6, dualstack (an IPv6 socket that takes
// IPv4-mapped addresses), connectbyname, connectbynamew or connectbylist.
// An ADDRESS with a colon is IPv6.
// Or STYLE looks a host name up in ADDRESS, connects to what it got and adds
// "resolved=ADDRESS" to the trace: getaddrinfo, getaddrinfow, getaddrinfoexw
// (at once), getaddrinfoexwevent (overlapped, on an event: ",call=CODE"),
// getaddrinfoexwroutine (overlapped, a completion routine), getaddrinfoexa
// (found with GetProcAddress; ",getaddrinfoexa=missing" without it),
// gethostbyname, asyncgethostbyname (WSAAsyncGetHostByName), v4mapped (an
// IPv6 socket, AF_INET6 with AI_V4MAPPED) or getaddrinfo6 (AF_INET6 alone). reverse looks the name
// up and then the address back: ",getnameinfo=NAME,getnameinfow=NAME,gethostbyaddr=NAME"
// ("!ERROR" for a failure). udpreserved looks the name up and sends a
// datagram to the address at PORT; udp53 sends a DNS query for
// leak.relay.test to ADDRESS:PORT; both trace "sendto=E,wsasendto=E,connect=E"
// and fail with sendto's error.
// A result line reads "ok PEER ELAPSED_MS [TRACE]" or "error CODE ELAPSED_MS
// [TRACE]"; ELAPSED_MS runs until the connection is made or has failed. The
// asynchronous styles add TRACE, what the program saw in order, comma-separated:
// "call=CODE@MS" (what the connecting call returned, after how long), then each
// wait's outcome: select=w|x, poll=out+err+hup, a batch of network events or
// one window message (connect=ERROR+read+write+close), or sent=N,update=ERROR
// for ConnectEx. parallel ends with "total MS", the time until the last connect was made.
#include <winsock2.h>
#include <windows.h>
#include <mswsock.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#ifdef KESTREL_PROXY_DELAY_LOADED
// The zero descriptor that ends the delay-import table, linked right after
// dlltool's one (".text$2"); see delay_import.py.
alignas(4) __attribute__((section(".text$2z"), used)) const unsigned char kDelayImportEnd[32] = {};
#endif

namespace {

struct Outcome {
    int error = 0;  // 0: connected and echoed
    std::string peer;
    long long elapsedMs = 0;
    std::string trace;
};

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

int LastError(int fallback)
{
    const int error = WSAGetLastError();
    return error != 0 ? error : fallback;
}

struct Target {
    sockaddr_storage address{};
    int length = 0;
    int family = AF_INET;
    const sockaddr* Name() const { return reinterpret_cast<const sockaddr*>(&address); }
};

Target MakeTarget(std::string text, int port)
{
    Target target;
    target.family = text.find(':') != std::string::npos ? AF_INET6 : AF_INET;
    target.length = sizeof target.address;
    WSAStringToAddressA(&text[0], target.family, nullptr,
                        reinterpret_cast<sockaddr*>(&target.address), &target.length);
    // The port lies at the same place in both families' addresses.
    reinterpret_cast<sockaddr_in&>(target.address).sin_port = htons(static_cast<u_short>(port));
    return target;
}

// The peer the socket is connected to, as the program sees it:
// "a.b.c.d:port" or "[v6]:port".
std::string PeerOf(SOCKET s)
{
    sockaddr_storage peer{};
    int length = sizeof peer;
    char text[64] = {};
    DWORD size = sizeof text;
    if (getpeername(s, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        WSAAddressToStringA(reinterpret_cast<sockaddr*>(&peer), length, nullptr, text, &size) != 0)
        return "?";
    return text;
}

std::string Line()
{
    return "kestrel echo " + std::to_string(GetCurrentProcessId()) + "\n";
}

int Expect(SOCKET s, const std::string& line)
{
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

int Echo(SOCKET s)
{
    const std::string line = Line();
    if (send(s, line.data(), static_cast<int>(line.size()), 0) != static_cast<int>(line.size()))
        return LastError(-1);
    return Expect(s, line);
}

// A connected socket's peer, and its echo.
void EchoIfConnected(SOCKET s, Outcome& outcome)
{
    if (outcome.error == 0) {
        outcome.peer = PeerOf(s);
        outcome.error = Echo(s);
    }
}

void SetBlocking(SOCKET s, bool blocking)
{
    u_long mode = blocking ? 0 : 1;
    ioctlsocket(s, FIONBIO, &mode);
}

int PendingError(SOCKET s)
{
    int error = 0;
    int length = sizeof error;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    return error;
}

int ConnectBlocking(SOCKET s, const Target& to)
{
    return connect(s, to.Name(), to.length) == 0 ? 0 : LastError(-1);
}

int ConnectWsa(SOCKET s, const Target& to)
{
    return WSAConnect(s, to.Name(), to.length, nullptr, nullptr, nullptr, nullptr) == 0
               ? 0
               : LastError(-1);
}

int ConnectLookedUp(SOCKET s, const Target& to)
{
    using ConnectFunction = int(WSAAPI*)(SOCKET, const sockaddr*, int);
    const auto function = reinterpret_cast<ConnectFunction>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("ws2_32.dll"), "connect")));
    if (function == nullptr)
        return -4;
    return function(s, to.Name(), to.length) == 0 ? 0 : LastError(-1);
}

// The call's own result and how long it took, as the trace's first entry.
int TracedCall(const std::function<int()>& call, std::string& trace)
{
    const auto start = Clock::now();
    const int result = call();
    trace = "call=" + std::to_string(result) + "@" + std::to_string(MsSince(start));
    return result;
}

// The names of the bits set, joined by "+".
std::string Flags(long bits, std::initializer_list<std::pair<long, std::string>> names)
{
    std::string text;
    for (const auto& [bit, name] : names)
        if (bits & bit)
            text += (text.empty() ? "" : "+") + name;
    return text;
}

// What a select finds of each socket: 'w' writable, 'x' failed, 0 neither.
std::vector<char> Select(const std::vector<SOCKET>& sockets)
{
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    for (SOCKET s : sockets) {
        FD_SET(s, &writable);
        FD_SET(s, &failed);
    }
    timeval wait{30, 0};
    std::vector<char> seen(sockets.size(), 0);
    if (select(0, nullptr, &writable, &failed, &wait) > 0)
        for (std::size_t i = 0; i < sockets.size(); ++i)
            seen[i] = FD_ISSET(sockets[i], &failed)     ? 'x'
                      : FD_ISSET(sockets[i], &writable) ? 'w'
                                                        : 0;
    return seen;
}

int ConnectNonBlocking(SOCKET s, const Target& to, bool wsa, bool poll, std::string& trace)
{
    SetBlocking(s, false);
    const int call =
        TracedCall([&] { return wsa ? ConnectWsa(s, to) : ConnectBlocking(s, to); }, trace);
    if (call != 0 && call != WSAEWOULDBLOCK)
        return call;
    if (call == WSAEWOULDBLOCK && poll) {
        WSAPOLLFD entry{s, POLLWRNORM, 0};
        if (WSAPoll(&entry, 1, 30000) != 1)
            return -5;
        trace += ",poll=" +
                 Flags(entry.revents, {{POLLWRNORM, "out"}, {POLLERR, "err"}, {POLLHUP, "hup"}});
    } else if (call == WSAEWOULDBLOCK) {
        const char seen = Select({s})[0];
        if (seen == 0)
            return -5;
        trace += std::string(",select=") + seen;
    }
    const int error = PendingError(s);
    if (error == 0)
        SetBlocking(s, true);
    return error;
}

// One wait of a program that is told of network events.
struct Batch {
    long events = 0;
    int connectError = 0;
};
using NextBatch = std::function<bool(DWORD timeoutMs, Batch& batch)>;

std::string Names(const Batch& batch)
{
    const std::string names =
        Flags(batch.events, {{FD_CONNECT, "connect=" + std::to_string(batch.connectError)},
                             {FD_READ, "read"},
                             {FD_WRITE, "write"},
                             {FD_CLOSE, "close"}});
    return names.empty() ? "none" : names;
}

// Connects and echoes as a program driven by network events does: the socket
// never blocks, and every event is recorded. After a failure it still
// listens a moment for anything that should not follow.
Outcome ConnectByEvents(SOCKET s, const Target& to, const NextBatch& next)
{
    Outcome outcome;
    const auto start = Clock::now();
    const int call = TracedCall([&] { return ConnectBlocking(s, to); }, outcome.trace);
    if (call != 0 && call != WSAEWOULDBLOCK) {
        outcome.error = call;
        outcome.elapsedMs = MsSince(start);
        return outcome;
    }
    const std::string line = Line();
    std::string back;
    bool connected = false;
    auto begin = [&] {
        connected = true;
        outcome.elapsedMs = MsSince(start);
        outcome.peer = PeerOf(s);
        send(s, line.data(), static_cast<int>(line.size()), 0);
    };
    if (call == 0)
        begin();
    for (;;) {
        Batch batch;
        if (!next(15000, batch)) {
            outcome.error = -5;
            break;
        }
        outcome.trace += "," + Names(batch);
        if ((batch.events & FD_CONNECT) && batch.connectError != 0) {
            outcome.error = batch.connectError;
            outcome.elapsedMs = MsSince(start);
            while (next(300, batch))
                outcome.trace += "," + Names(batch);
            break;
        }
        if ((batch.events & FD_CONNECT) && !connected)
            begin();
        char buffer[256];
        int count = 0;
        while (connected && (batch.events & FD_READ) &&
               (count = recv(s, buffer, sizeof buffer, 0)) > 0)
            back.append(buffer, static_cast<std::size_t>(count));
        if (back.size() >= line.size()) {
            outcome.error = back == line ? 0 : -3;
            break;
        }
        if (batch.events & FD_CLOSE) {
            outcome.error = -2;
            break;
        }
    }
    return outcome;
}

Outcome ConnectEventSelect(SOCKET s, const Target& to)
{
    WSAEVENT event = WSACreateEvent();
    WSAEventSelect(s, event, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE);
    const Outcome outcome = ConnectByEvents(s, to, [&](DWORD timeoutMs, Batch& batch) {
        if (WaitForSingleObject(event, timeoutMs) != WAIT_OBJECT_0)
            return false;
        WSANETWORKEVENTS events{};
        if (WSAEnumNetworkEvents(s, event, &events) != 0)
            return false;
        batch.events = events.lNetworkEvents;
        batch.connectError = events.iErrorCode[FD_CONNECT_BIT];
        return true;
    });
    WSAEventSelect(s, nullptr, 0);
    WSACloseEvent(event);
    return outcome;
}

Outcome ConnectAsyncSelect(SOCKET s, const Target& to)
{
    const UINT message = WM_APP + 1;
    HWND window =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    WSAAsyncSelect(s, window, message, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE);
    const Outcome outcome = ConnectByEvents(s, to, [&](DWORD timeoutMs, Batch& batch) {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        for (;;) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == message && msg.wParam == s) {
                    batch.events = WSAGETSELECTEVENT(msg.lParam);
                    batch.connectError = WSAGETSELECTERROR(msg.lParam);
                    return true;
                }
                DispatchMessageA(&msg);
            }
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                      QS_ALLINPUT);
        }
    });
    WSAAsyncSelect(s, window, 0, 0);
    DestroyWindow(window);
    return outcome;
}

// ConnectEx with the first line as its data, completed on a port or an event.
int ConnectOverlapped(SOCKET s, const Target& to, bool event, std::string& trace)
{
    LPFN_CONNECTEX connectEx = nullptr;
    GUID id = WSAID_CONNECTEX;
    DWORD returned = 0;
    if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &connectEx,
                 sizeof connectEx, &returned, nullptr, nullptr) != 0)
        return LastError(-6);
    sockaddr_in6 any{};
    any.sin6_family = static_cast<short>(to.family);
    if (bind(s, reinterpret_cast<const sockaddr*>(&any),
             to.family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in)) != 0)
        return LastError(-7);
    HANDLE port =
        event ? nullptr : CreateIoCompletionPort(reinterpret_cast<HANDLE>(s), nullptr, 7, 0);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event ? CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr;
    std::string line = Line();
    DWORD sent = 0;
    const int call = TracedCall(
        [&] {
            return connectEx(s, to.Name(), to.length, &line[0], static_cast<DWORD>(line.size()),
                             &sent, &overlapped)
                       ? 0
                       : LastError(-1);
        },
        trace);
    int result = call == ERROR_IO_PENDING ? 0 : call;
    DWORD bytes = sent;
    ULONG_PTR key = 0;
    OVERLAPPED* done = nullptr;
    DWORD flags = 0;
    // A program on a port takes GetQueuedCompletionStatus's word for success,
    // and asks WSAGetOverlappedResult for the Winsock error of a failure.
    if (result == 0 && event) {
        if (WaitForSingleObject(overlapped.hEvent, 30000) != WAIT_OBJECT_0)
            result = -9;
        else if (!WSAGetOverlappedResult(s, &overlapped, &bytes, FALSE, &flags))
            result = LastError(-1);
    } else if (result == 0 && !GetQueuedCompletionStatus(port, &bytes, &key, &done, 30000)) {
        result = done == nullptr                                                 ? -9
                 : WSAGetOverlappedResult(s, &overlapped, &bytes, FALSE, &flags) ? -12
                                                                                 : LastError(-1);
    } else if (result == 0 && (done != &overlapped || key != 7)) {
        result = -10;
    }
    if (result == 0) {
        const int update = setsockopt(s, SOL_SOCKET, SO_UPDATE_CONNECT_CONTEXT, nullptr, 0) == 0
                               ? 0
                               : LastError(-1);
        trace += ",sent=" + std::to_string(bytes) + ",update=" + std::to_string(update);
        result = bytes == line.size() ? Expect(s, line) : -11;
    }
    if (port != nullptr)
        CloseHandle(port);
    if (overlapped.hEvent != nullptr)
        CloseHandle(overlapped.hEvent);
    return result;
}

int ConnectByName(SOCKET s, const std::string& address, int port, bool wide)
{
    std::string node = address;
    std::string service = std::to_string(port);
    std::wstring wideNode(node.begin(), node.end());
    std::wstring wideService(service.begin(), service.end());
    timeval wait{30, 0};
    if (!(wide ? WSAConnectByNameW(s, &wideNode[0], &wideService[0], nullptr, nullptr, nullptr,
                                   nullptr, &wait, nullptr)
               : WSAConnectByNameA(s, &node[0], &service[0], nullptr, nullptr, nullptr, nullptr,
                                   &wait, nullptr)))
        return LastError(-1);
    setsockopt(s, SOL_SOCKET, SO_UPDATE_CONNECT_CONTEXT, nullptr, 0);
    return 0;
}

int ConnectByList(SOCKET s, const Target& to)
{
    SOCKET_ADDRESS_LIST list{};
    list.iAddressCount = 1;
    list.Address[0].lpSockaddr = const_cast<sockaddr*>(to.Name());
    list.Address[0].iSockaddrLength = to.length;
    timeval wait{30, 0};
    if (!WSAConnectByList(s, &list, nullptr, nullptr, nullptr, nullptr, &wait, nullptr))
        return LastError(-1);
    setsockopt(s, SOL_SOCKET, SO_UPDATE_CONNECT_CONTEXT, nullptr, 0);
    return 0;
}

// Name lookups: the styles below take a host NAME for ADDRESS, look it up one
// way, connect a blocking socket of the family got and echo; the trace starts
// with "resolved=ADDRESS".

extern "C" int WSAAPI GetAddrInfoExOverlappedResult(LPOVERLAPPED overlapped);

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::string AddressText(const sockaddr* address, int length)
{
    sockaddr_storage copy{};
    std::memcpy(&copy, address, static_cast<std::size_t>(length));
    reinterpret_cast<sockaddr_in&>(copy).sin_port = 0;  // the address alone
    char text[64] = "?";
    DWORD size = sizeof text;
    WSAAddressToStringA(reinterpret_cast<sockaddr*>(&copy), static_cast<DWORD>(length), nullptr,
                        text, &size);
    return text;
}

bool SetTarget(Target& to, const sockaddr* address, std::size_t length, int port)
{
    if (address == nullptr || length > sizeof to.address)
        return false;
    std::memcpy(&to.address, address, length);
    to.length = static_cast<int>(length);
    to.family = address->sa_family;
    reinterpret_cast<sockaddr_in&>(to.address).sin_port = htons(static_cast<u_short>(port));
    return true;
}

template <typename Info, typename Release>
int TakeFirst(int error, Info* info, Release release, Target& to, int port)
{
    if (error == 0 && (info == nullptr || !SetTarget(to, info->ai_addr, info->ai_addrlen, port)))
        error = -20;
    if (info != nullptr)
        release(info);
    return error;
}

int ResolveAnsi(const std::string& name, int port, Target& to, int family, int flags)
{
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_flags = flags;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* info = nullptr;
    const int error = getaddrinfo(name.c_str(), nullptr, &hints, &info);
    return TakeFirst(error, info, freeaddrinfo, to, port);
}

int ResolveWide(const std::string& name, int port, Target& to)
{
    ADDRINFOW hints{};
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* info = nullptr;
    const int error = GetAddrInfoW(Wide(name).c_str(), nullptr, &hints, &info);
    return TakeFirst(error, info, FreeAddrInfoW, to, port);
}

// GetAddrInfoExW at once, or overlapped and completed on an event or by a
// routine, whose word is the lookup's error.
struct Lookup {
    OVERLAPPED overlapped{};
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD error = 0;
};

void CALLBACK LookupDone(DWORD error, DWORD, LPOVERLAPPED overlapped)
{
    Lookup* lookup = CONTAINING_RECORD(overlapped, Lookup, overlapped);
    lookup->error = error;
    SetEvent(lookup->done);
}

int ResolveEx(const std::string& name, int port, Target& to, const std::string& how,
              std::string& trace)
{
    ADDRINFOEXW hints{};
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOEXW* info = nullptr;
    Lookup lookup;
    if (how == "event")
        lookup.overlapped.hEvent = lookup.done;
    HANDLE handle = nullptr;
    const bool overlapped = !how.empty();
    int error = GetAddrInfoExW(
        Wide(name).c_str(), nullptr, NS_DNS, nullptr, &hints, &info, nullptr,
        overlapped ? &lookup.overlapped : nullptr,
        how == "routine" ? reinterpret_cast<LPLOOKUPSERVICE_COMPLETION_ROUTINE>(LookupDone)
                         : nullptr,
        overlapped ? &handle : nullptr);
    if (overlapped) {
        trace += ",call=" + std::to_string(error);
        if (error == WSA_IO_PENDING)
            error = WaitForSingleObject(lookup.done, 30000) != WAIT_OBJECT_0 ? -21
                    : how == "event" ? GetAddrInfoExOverlappedResult(&lookup.overlapped)
                                     : static_cast<int>(lookup.error);
    }
    CloseHandle(lookup.done);
    return TakeFirst(error, info, FreeAddrInfoExW, to, port);
}

// GetAddrInfoExA as a program finds it where it may be missing.
int ResolveExA(const std::string& name, int port, Target& to, std::string& trace)
{
    using GetFunction =
        int(WSAAPI*)(PCSTR, PCSTR, DWORD, LPGUID, const ADDRINFOEXA*, PADDRINFOEXA*, timeval*,
                     LPOVERLAPPED, LPLOOKUPSERVICE_COMPLETION_ROUTINE, LPHANDLE);
    using FreeFunction = void(WSAAPI*)(PADDRINFOEXA);
    HMODULE ws2 = GetModuleHandleA("ws2_32.dll");
    const auto get = reinterpret_cast<GetFunction>(
        reinterpret_cast<void*>(GetProcAddress(ws2, "GetAddrInfoExA")));
    const auto release = reinterpret_cast<FreeFunction>(
        reinterpret_cast<void*>(GetProcAddress(ws2, "FreeAddrInfoEx")));
    if (get == nullptr || release == nullptr) {
        trace += ",getaddrinfoexa=missing";
        return -22;
    }
    ADDRINFOEXA hints{};
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOEXA* info = nullptr;
    const int error = get(name.c_str(), nullptr, NS_DNS, nullptr, &hints, &info, nullptr, nullptr,
                          nullptr, nullptr);
    return TakeFirst(error, info, release, to, port);
}

int FromHostent(const hostent* host, int port, Target& to)
{
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list[0] == nullptr)
        return -20;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    std::memcpy(&address.sin_addr, host->h_addr_list[0], sizeof address.sin_addr);
    SetTarget(to, reinterpret_cast<const sockaddr*>(&address), sizeof address, port);
    return 0;
}

// WSAAsyncGetHostByName, answered to a message-only window.
int ResolveAsyncHost(const std::string& name, int port, Target& to)
{
    const UINT message = WM_APP + 2;
    HWND window =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    std::vector<char> buffer(MAXGETHOSTSTRUCT);
    HANDLE task = WSAAsyncGetHostByName(window, message, name.c_str(), buffer.data(),
                                        static_cast<int>(buffer.size()));
    int error = task == nullptr ? LastError(-1) : -21;
    const ULONGLONG deadline = GetTickCount64() + 30000;
    for (MSG msg; task != nullptr && GetTickCount64() < deadline;) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_ALLINPUT);
            continue;
        }
        if (msg.message == message && reinterpret_cast<HANDLE>(msg.wParam) == task) {
            error = WSAGETASYNCERROR(msg.lParam);
            if (error == 0)
                error = FromHostent(reinterpret_cast<const hostent*>(buffer.data()), port, to);
            break;
        }
        DispatchMessageA(&msg);
    }
    DestroyWindow(window);
    return error;
}

int Resolve(const std::string& style, const std::string& name, int port, Target& to,
            std::string& trace)
{
    if (style == "getaddrinfo" || style == "reverse" || style == "udpreserved")
        return ResolveAnsi(name, port, to, AF_UNSPEC, 0);
    if (style == "v4mapped" || style == "getaddrinfo6")
        return ResolveAnsi(name, port, to, AF_INET6, style == "v4mapped" ? AI_V4MAPPED : 0);
    if (style == "getaddrinfow")
        return ResolveWide(name, port, to);
    if (style.rfind("getaddrinfoexw", 0) == 0)
        return ResolveEx(name, port, to, style.substr(14), trace);
    if (style == "getaddrinfoexa")
        return ResolveExA(name, port, to, trace);
    if (style == "gethostbyname") {
        const hostent* host = gethostbyname(name.c_str());
        return host == nullptr ? LastError(-1) : FromHostent(host, port, to);
    }
    if (style == "asyncgethostbyname")
        return ResolveAsyncHost(name, port, to);
    return -100;
}

// What each reverse lookup answers for the address: a name or "!ERROR".
std::string ReverseLookups(const Target& to)
{
    char host[NI_MAXHOST] = {};
    std::string text = "getnameinfo=";
    const int ansi = getnameinfo(to.Name(), to.length, host, sizeof host, nullptr, 0, NI_NAMEREQD);
    text += ansi == 0 ? host : "!" + std::to_string(ansi);
    wchar_t wide[NI_MAXHOST] = {};
    const int wideError =
        GetNameInfoW(to.Name(), to.length, wide, NI_MAXHOST, nullptr, 0, NI_NAMEREQD);
    char narrow[NI_MAXHOST] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
    text += ",getnameinfow=" + (wideError == 0 ? narrow : "!" + std::to_string(wideError));
    const auto& in = reinterpret_cast<const sockaddr_in&>(to.address);
    const hostent* byAddress =
        gethostbyaddr(reinterpret_cast<const char*>(&in.sin_addr), sizeof in.sin_addr, AF_INET);
    text += ",gethostbyaddr=" + (byAddress != nullptr ? std::string(byAddress->h_name)
                                                      : "!" + std::to_string(LastError(-1)));
    return text;
}

// A DNS query for leak.relay.test, type A.
std::string DnsQuery()
{
    std::string query("\x4b\x45\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12);
    query += std::string("\x04leak\x05relay\x04test\x00\x00\x01\x00\x01", 21);
    return query;
}

// A datagram to `to`, by sendto, WSASendTo and connect: each one's error.
std::string SendDatagrams(const Target& to, const std::string& data, int& sendError)
{
    SOCKET s = socket(to.family, SOCK_DGRAM, IPPROTO_UDP);
    DWORD wait = 2000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
    // After a datagram that went out, waits for the answer: the server has
    // then logged it.
    auto sent = [&](bool ok) {
        char answer[512];
        if (ok)
            recv(s, answer, sizeof answer, 0);
        return ok ? 0 : LastError(-1);
    };
    sendError = sent(sendto(s, data.data(), static_cast<int>(data.size()), 0, to.Name(),
                            to.length) == static_cast<int>(data.size()));
    WSABUF buffer{static_cast<ULONG>(data.size()), const_cast<char*>(data.data())};
    DWORD bytes = 0;
    const int wsaError =
        sent(WSASendTo(s, &buffer, 1, &bytes, 0, to.Name(), to.length, nullptr, nullptr) == 0);
    closesocket(s);
    s = socket(to.family, SOCK_DGRAM, IPPROTO_UDP);
    const int connectError = ConnectBlocking(s, to);
    closesocket(s);
    return "sendto=" + std::to_string(sendError) + ",wsasendto=" + std::to_string(wsaError) +
           ",connect=" + std::to_string(connectError);
}

bool IsNameStyle(const std::string& style)
{
    for (const char* name :
         {"getaddrinfo", "getaddrinfow", "getaddrinfoexw", "getaddrinfoexwevent",
          "getaddrinfoexwroutine", "getaddrinfoexa", "gethostbyname", "asyncgethostbyname",
          "v4mapped", "getaddrinfo6", "reverse", "udp53", "udpreserved"})
        if (style == name)
            return true;
    return false;
}

Outcome RunNamed(const std::string& style, const std::string& name, int port)
{
    Outcome outcome;
    const auto start = Clock::now();
    // Without a connection, the peer is the address that was looked up or sent to.
    if (style == "udp53") {
        const Target to = MakeTarget(name, port);
        outcome.peer = AddressText(to.Name(), to.length);
        outcome.trace = SendDatagrams(to, DnsQuery(), outcome.error);
        return outcome;
    }
    Target to;
    std::string calls;
    outcome.error = Resolve(style, name, port, to, calls);
    outcome.trace = "resolved=" +
                    (outcome.error == 0 ? AddressText(to.Name(), to.length)
                                        : "!" + std::to_string(outcome.error)) +
                    calls;
    if (outcome.error != 0)
        return outcome;
    outcome.peer = AddressText(to.Name(), to.length);
    if (style == "reverse") {
        outcome.trace += "," + ReverseLookups(to);
        return outcome;
    }
    if (style == "udpreserved") {
        outcome.trace += "," + SendDatagrams(to, "kestrel datagram", outcome.error);
        return outcome;
    }
    SOCKET s = socket(to.family, SOCK_STREAM, IPPROTO_TCP);
    DWORD off = 0;
    if (to.family == AF_INET6)
        setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off), sizeof off);
    outcome.error = ConnectBlocking(s, to);
    outcome.elapsedMs = MsSince(start);
    EchoIfConnected(s, outcome);
    closesocket(s);
    return outcome;
}

Outcome Run(const std::string& style, const std::string& address, int port)
{
    if (IsNameStyle(style))
        return RunNamed(style, address, port);
    const Target to = MakeTarget(address, port);
    SOCKET s = socket(to.family, SOCK_STREAM, IPPROTO_TCP);
    Outcome outcome;
    if (style == "eventselect" || style == "asyncselect") {
        outcome = style == "eventselect" ? ConnectEventSelect(s, to) : ConnectAsyncSelect(s, to);
        closesocket(s);
        return outcome;
    }
    const auto start = Clock::now();
    if (style == "blocking" || style == "ctor" || style == "hold" || style == "ipv6")
        outcome.error = ConnectBlocking(s, to);
    else if (style == "dualstack") {
        DWORD off = 0;
        setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off), sizeof off);
        outcome.error = ConnectBlocking(s, to);
    } else if (style == "nonblocking" || style == "nonblockingwsa" || style == "poll")
        outcome.error =
            ConnectNonBlocking(s, to, style == "nonblockingwsa", style == "poll", outcome.trace);
    else if (style == "wsaconnect")
        outcome.error = ConnectWsa(s, to);
    else if (style == "getprocaddress")
        outcome.error = ConnectLookedUp(s, to);
    else if (style == "connectex" || style == "connectexevent")
        outcome.error = ConnectOverlapped(s, to, style == "connectexevent", outcome.trace);
    else if (style == "connectbyname" || style == "connectbynamew")
        outcome.error = ConnectByName(s, address, port, style == "connectbynamew");
    else if (style == "connectbylist")
        outcome.error = ConnectByList(s, to);
    else if (style == "thread")
        std::thread([&] { outcome.error = ConnectBlocking(s, to); }).join();
    else
        outcome.error = -100;
    outcome.elapsedMs = MsSince(start);
    EchoIfConnected(s, outcome);
    closesocket(s);
    return outcome;
}

// A connect that failed, tried again on the same socket.
std::vector<Outcome> RunRetry(const std::string& address, int port)
{
    const Target to = MakeTarget(address, port);
    SOCKET s = socket(to.family, SOCK_STREAM, IPPROTO_TCP);
    std::vector<Outcome> outcomes(2);
    for (Outcome& outcome : outcomes) {
        const auto start = Clock::now();
        outcome.error = ConnectBlocking(s, to);
        outcome.elapsedMs = MsSince(start);
        EchoIfConnected(s, outcome);
    }
    closesocket(s);
    return outcomes;
}

// N non-blocking connects from this one thread, waited for together.
std::vector<Outcome> RunParallel(const std::string& address, int port, int count,
                                 long long& totalMs)
{
    const Target to = MakeTarget(address, port);
    std::vector<SOCKET> sockets;
    std::vector<Outcome> outcomes(static_cast<std::size_t>(count));
    std::vector<bool> pending(outcomes.size(), true);
    const auto start = Clock::now();
    for (Outcome& outcome : outcomes) {
        sockets.push_back(socket(to.family, SOCK_STREAM, IPPROTO_TCP));
        SetBlocking(sockets.back(), false);
        outcome.error =
            TracedCall([&] { return ConnectBlocking(sockets.back(), to); }, outcome.trace);
        pending[sockets.size() - 1] = outcome.error == WSAEWOULDBLOCK;
        if (outcome.error == WSAEWOULDBLOCK)
            outcome.error = 0;
    }
    for (bool waited = true; waited;) {
        std::vector<std::size_t> waiting;
        std::vector<SOCKET> set;
        for (std::size_t i = 0; i < sockets.size(); ++i)
            if (pending[i]) {
                waiting.push_back(i);
                set.push_back(sockets[i]);
            }
        const std::vector<char> seen = set.empty() ? std::vector<char>() : Select(set);
        waited = false;
        for (std::size_t k = 0; k < seen.size(); ++k)
            if (seen[k] != 0) {
                waited = true;
                pending[waiting[k]] = false;
                outcomes[waiting[k]].error = PendingError(set[k]);
                outcomes[waiting[k]].elapsedMs = MsSince(start);
            }
    }
    // Until the last tunnel is open: the echoes after it go one by one.
    totalMs = MsSince(start);
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        if (pending[i])
            outcomes[i].error = -5;
        if (outcomes[i].error == 0) {
            SetBlocking(sockets[i], true);
            outcomes[i].peer = PeerOf(sockets[i]);
            outcomes[i].error = Echo(sockets[i]);
        }
        closesocket(sockets[i]);
    }
    return outcomes;
}

std::string Describe(const Outcome& outcome)
{
    std::string text =
        outcome.error == 0 ? "ok " + outcome.peer : "error " + std::to_string(outcome.error);
    text += " " + std::to_string(outcome.elapsedMs);
    return outcome.trace.empty() ? text : text + " " + outcome.trace;
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

// The argument as the program received it, before any code page touched it.
std::string Utf8Argument(int index)
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    char utf8[1024] = {};
    if (index < count)
        WideCharToMultiByte(CP_UTF8, 0, wide[index], -1, utf8, sizeof utf8, nullptr, nullptr);
    LocalFree(wide);
    return utf8;
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

int Spawn(const std::vector<std::string>& arguments, const std::string& how)
{
    const bool wide = how == "spawnw" || how == "spawnasuser";
    const DWORD flags = how == "spawnsuspended" ? CREATE_SUSPENDED : 0;
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
        HANDLE token = nullptr;
        if (how == "spawnasuser" &&
            !OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token))
            return -static_cast<int>(GetLastError());
        started = how == "spawnasuser"
                      ? CreateProcessAsUserW(token, nullptr, &wideLine[0], nullptr, nullptr, FALSE,
                                             0, nullptr, nullptr, &startupW, &info)
                      : CreateProcessW(nullptr, &wideLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                       nullptr, &startupW, &info);
        if (token != nullptr)
            CloseHandle(token);
    } else {
        std::vector<char> mutableLine(line.begin(), line.end());
        mutableLine.push_back('\0');
        started = CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, flags,
                                 nullptr, nullptr, &startupA, &info);
    }
    if (!started)
        return -static_cast<int>(GetLastError());
    if (flags & CREATE_SUSPENDED)
        ResumeThread(info.hThread);
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
    if (style == "echoarg") {
        std::fprintf(result, "%s\n", Utf8Argument(3).c_str());
    } else if (style == "modules") {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
        MODULEENTRY32 module{};
        module.dwSize = sizeof module;
        bool found = false;
        for (BOOL more = Module32First(snapshot, &module); more && !found;
             more = Module32Next(snapshot, &module))
            found = _strnicmp(module.szModule, arguments[3].c_str(), arguments[3].size()) == 0;
        CloseHandle(snapshot);
        std::fprintf(result, "%d\n", found ? 1 : 0);
    } else if (style == "spawn" || style == "spawnw" || style == "spawnafter" ||
               style == "spawnsuspended" || style == "spawnasuser") {
        std::vector<std::string> spawned = arguments;
        if (style == "spawnafter") {
            HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, arguments[3].c_str());
            WaitForSingleObject(event, 60000);
            CloseHandle(event);
            spawned.erase(spawned.begin() + 3);
        }
        const int code = Spawn(spawned, style);
        std::fprintf(result, "spawned %d\n", code);
        failures = code != 0;
    } else if (arguments.size() >= 5) {
        const int port = std::atoi(arguments[4].c_str());
        if (g_early.made) {
            report(g_early.outcome);
        } else if (style == "retry") {
            for (const Outcome& outcome : RunRetry(arguments[3], port))
                report(outcome);
        } else if (style == "parallel" && arguments.size() >= 6) {
            long long totalMs = 0;
            for (const Outcome& outcome :
                 RunParallel(arguments[3], port, std::atoi(arguments[5].c_str()), totalMs))
                report(outcome);
            std::fprintf(result, "total %lld\n", totalMs);
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
