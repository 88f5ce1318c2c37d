// tests/proxy/engine_test.cpp
// What a covered program sees of a redirected connection, in every way it can
// connect and wait: the same as connecting directly to a slow server. The
// relay's slow port delays each reply it sends, so a call that returns before
// the first reply did not wait for the tunnel.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/proxy/proxy_case.h"

namespace {

using Lines = std::vector<std::string>;

constexpr long long kReplyDelayMs = 100;  // relay.py's REPLY_DELAY
constexpr long long kTimeoutMs = 10000;   // the tunnel's, documented

const Network& Net()
{
    return TestNetwork();
}

std::string At(const std::string& address, int port)
{
    return (address.find(':') != std::string::npos ? "[" + address + "]" : address) + ":" +
           std::to_string(port);
}

ServerRecord Microsocks()
{
    ServerRecord server;
    server.IP = "127.0.0.1";
    server.Port = Net().realServerBase;
    server.Type = 5;
    return server;
}

// The styles whose connecting call must not wait, and what it returns.
struct Asynchronous {
    const char* style;
    int pending;
    bool events;  // told of network events: WSAEventSelect or WSAAsyncSelect
};
const Asynchronous kAsynchronous[] = {
    {"nonblocking", WSAEWOULDBLOCK, false},
    {"nonblockingwsa", WSAEWOULDBLOCK, false},
    {"poll", WSAEWOULDBLOCK, false},
    {"eventselect", WSAEWOULDBLOCK, true},
    {"asyncselect", WSAEWOULDBLOCK, true},
    {"connectex", ERROR_IO_PENDING, false},
    {"connectexevent", ERROR_IO_PENDING, false},
};

// The trace's first entry, "call=CODE@MS".
int CallCode(const std::string& trace)
{
    return trace.rfind("call=", 0) == 0 ? std::atoi(trace.c_str() + 5) : -1;
}

long long CallMs(const std::string& trace)
{
    return std::atoll(trace.c_str() + trace.find('@') + 1);
}

// The events after the call, the connect's error written as E. POLLHUP
// beside POLLERR is left out: Windows sets it for a failed connect, Wine's
// own sockets do not.
std::string EventsOf(const std::string& trace, int error)
{
    const std::size_t comma = trace.find(',');
    std::string events = comma == std::string::npos ? "" : trace.substr(comma + 1);
    const std::string code = "connect=" + std::to_string(error);
    for (std::size_t at; (at = events.find(code)) != std::string::npos;)
        events.replace(at, code.size(), "connect=E");
    if (events.rfind("poll=err+hup", 0) == 0)
        events.erase(8, 4);
    return events;
}

// FD_CONNECT first and once, with success, and nothing to read before the
// program's own line could come back.
void ExpectConnectedEvents(const std::string& trace)
{
    const std::string events = EventsOf(trace, 0);
    EXPECT_EQ(0u, events.rfind("connect=E", 0)) << trace;
    EXPECT_EQ(events.find("connect="), events.rfind("connect=")) << trace;
    EXPECT_EQ(std::string::npos, events.substr(0, events.find(',')).find("read")) << trace;
}

Lines Since(const Lines& lines, std::size_t from)
{
    return from <= lines.size() ? Lines(lines.begin() + static_cast<long>(from), lines.end())
                                : Lines{};
}

// Connections that escaped: the relay's forward mode comes from loopback.
Lines Escapes(const Lines& direct)
{
    Lines escaped;
    for (const std::string& line : direct)
        if (line.rfind("127.0.0.1:", 0) != 0 && line.rfind("[::1]:", 0) != 0)
            escaped.push_back(line);
    return escaped;
}

TEST_F(ProxyCase, AsynchronousConnectsReturnAtOnceAndCompleteWhenTheTunnelIsOpen)
{
    struct Variant {
        const char* what;
        ServerRecord server;
        int port;
        bool timed;
    };
    const Variant variants[] = {{"slow relay", Relay(kRelaySlow), 7, true},
                                {"microsocks", Microsocks(), Net().echoPort, false}};
    for (const Variant& variant : variants) {
        Configure(variant.server);
        for (const Asynchronous& style : kAsynchronous) {
            SCOPED_TRACE(std::string(variant.what) + " " + style.style);
            const std::size_t before = RelayLog().size();
            const ClientResult result = Connect(style.style, Net().address, variant.port);
            EXPECT_TRUE(result.ok) << result.error << " " << result.trace;
            EXPECT_EQ(At(Net().address, variant.port), result.peer);
            EXPECT_EQ(style.pending, CallCode(result.trace)) << result.trace;
            if (style.events)
                ExpectConnectedEvents(result.trace);
            if (style.pending == ERROR_IO_PENDING) {
                EXPECT_NE(std::string::npos, result.trace.find(",update=0")) << result.trace;
            }
            if (!variant.timed)
                continue;
            EXPECT_LT(CallMs(result.trace) * 2, kReplyDelayMs) << result.trace;
            EXPECT_GE(result.elapsedMs, kReplyDelayMs);
            EXPECT_EQ(Lines{RelayLine(kRelaySlow, 5, At(Net().address, 7))},
                      Since(RelayLog(), before));
        }
    }
}

TEST_F(ProxyCase, FailuresReachEveryStyleAsTheTunnelsErrorAndNothingGoesDirect)
{
    // What each asynchronous style sees of a directly refused connect: the same
    // as of a failed tunnel, the error aside.
    Configure(Relay());
    Lines styles = {"blocking", "wsaconnect"};
    Lines reference;
    for (const Asynchronous& style : kAsynchronous) {
        styles.push_back(style.style);
        const ClientResult direct = Connect(style.style, Net().address, 7, false);
        EXPECT_EQ(WSAECONNREFUSED, direct.error) << style.style;
        EXPECT_EQ(style.pending, CallCode(direct.trace)) << style.style << " " << direct.trace;
        reference.push_back(EventsOf(direct.trace, WSAECONNREFUSED));
    }

    struct Failure {
        const char* what;
        int relay;
        int error;
    };
    const Failure failures[] = {{"CONNECT refused", kRelayRefuse, WSAECONNREFUSED},
                                {"proxy down", kRelayDown, WSAECONNREFUSED},
                                {"silent proxy", kRelaySilent, WSAETIMEDOUT},
                                {"proxy dropping packets", kRelayDrop, WSAETIMEDOUT}};
    for (const Failure& failure : failures) {
        Configure(Relay(failure.relay));
        Lines arguments;
        for (const std::string& style : styles)
            arguments.push_back(style + " " + Net().address + " " + std::to_string(Net().echoPort));
        const std::vector<Lines> results = RunClientsTogether(arguments);
        for (std::size_t i = 0; i < styles.size(); ++i) {
            SCOPED_TRACE(std::string(failure.what) + " " + styles[i]);
            EXPECT_EQ(1u, results[i].size());
            const ClientResult result = ParseResult(results[i].empty() ? "" : results[i][0]);
            EXPECT_EQ(failure.error, result.error) << result.trace;
            EXPECT_LT(result.elapsedMs, kTimeoutMs + 1000);
            if (i < 2)
                continue;
            const Asynchronous& style = kAsynchronous[i - 2];
            EXPECT_EQ(style.pending, CallCode(result.trace)) << result.trace;
            EXPECT_EQ(reference[i - 2], EventsOf(result.trace, failure.error)) << result.trace;
        }
    }
    EXPECT_EQ(Lines{}, Escapes(DirectLog()));
}

TEST_F(ProxyCase, ManyConnectsFromOneThreadOpenTogether)
{
    Configure(Relay(kRelaySlow));
    auto run = [&](int count) {
        const Lines lines = RunClient("parallel " + Net().address + " 7 " + std::to_string(count));
        EXPECT_EQ(static_cast<std::size_t>(count) + 1, lines.size());
        for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
            const ClientResult result = ParseResult(lines[i]);
            EXPECT_TRUE(result.ok) << lines[i];
            EXPECT_EQ(At(Net().address, 7), result.peer);
        }
        return lines.empty() ? -1 : std::atoll(lines.back().c_str() + 6);  // "total MS"
    };
    const long long one = run(1);
    const long long eight = run(8);
    EXPECT_GE(one, kReplyDelayMs);
    EXPECT_LT(eight * 2, one * 3) << "one connection " << one << " ms, eight " << eight << " ms";
    EXPECT_EQ(9u, RelayLog().size());
}

TEST_F(ProxyCase, EachDestinationTakesItsWayWhateverTheAddressFamilyOrFunction)
{
    const std::string v6 = Net().address6;
    const std::string mapped = "::ffff:" + Net().address;
    const int echo = Net().echoPort;
    struct Variant {
        const char* style;
        std::string address;
        int port;
        ServerRecord server;
        int error;              // 0: connected and echoed
        std::string relayLine;  // empty: not through the relay
    };
    const Variant variants[] = {
        {"dualstack", mapped, 7, Relay(), 0, RelayLine(kRelayOpen, 5, At(Net().address, 7))},
        {"dualstack", mapped, 7, Relay(kRelayOpen, 4), 0,
         RelayLine(kRelayOpen, 4, At(Net().address, 7))},
        {"dualstack", "::ffff:127.0.0.1", echo, Relay(), 0, ""},
        {"ipv6", v6, 7, Relay(), 0, RelayLine(kRelayOpen, 5, At(v6, 7))},
        {"eventselect", v6, 7, Relay(), 0, RelayLine(kRelayOpen, 5, At(v6, 7))},
        {"ipv6", v6, echo, Relay(kRelayOpen, 4), WSAENETUNREACH, ""},
        {"ipv6", "::1", 7, Relay(), WSAECONNREFUSED, ""},
        {"ipv6", v6, echo, Relay(kRelayForward), 0, RelayLine(kRelayForward, 5, At(v6, echo))},
        {"blocking", Net().address, echo, Relay(kRelayForward), 0,
         RelayLine(kRelayForward, 5, At(Net().address, echo))},
        {"connectbyname", Net().address, 7, Relay(), 0,
         RelayLine(kRelayOpen, 5, At(Net().address, 7))},
        {"connectbynamew", Net().address, 7, Relay(), 0,
         RelayLine(kRelayOpen, 5, At(Net().address, 7))},
        {"connectbylist", Net().address, 7, Relay(), 0,
         RelayLine(kRelayOpen, 5, At(Net().address, 7))},
        {"ipv6", v6, echo, Microsocks(), 0, ""},
        {"dualstack", mapped, echo, Microsocks(), 0, ""},
    };
    for (const Variant& variant : variants) {
        SCOPED_TRACE(std::string(variant.style) + " " + At(variant.address, variant.port) +
                     " SOCKS " + std::to_string(variant.server.Type) + " port " +
                     std::to_string(variant.server.Port));
        Configure(variant.server);
        const std::size_t before = RelayLog().size();
        const std::size_t directBefore = DirectLog().size();
        const ClientResult result = Connect(variant.style, variant.address, variant.port);
        EXPECT_EQ(variant.error, result.error);
        if (variant.error == 0) {
            EXPECT_EQ(At(variant.address, variant.port), result.peer);
        }
        EXPECT_EQ(variant.relayLine.empty() ? Lines{} : Lines{variant.relayLine},
                  Since(RelayLog(), before));
        // microsocks reaches the echo from the test address itself.
        if (variant.server.Port != Microsocks().Port) {
            EXPECT_EQ(Lines{}, Escapes(Since(DirectLog(), directBefore)));
        }
    }
}

TEST_F(ProxyCase, AConnectRetriedAfterAFailedOneFailsAsADirectOneDoes)
{
    Configure(Relay());
    // Connecting again on a socket whose connect was refused fails again:
    // refused, as Windows documents it and Wine 10 does, or as Wine 8's own
    // sockets do; never "already connected".
    const Lines direct = RunClient("retry " + Net().address + " 7", false);
    ASSERT_EQ(2u, direct.size());
    EXPECT_EQ(WSAECONNREFUSED, ParseResult(direct[0]).error) << direct[0];
    const int again = ParseResult(direct[1]).error;
    EXPECT_NE(0, again);
    EXPECT_NE(WSAEISCONN, again);
    for (const int relay : {kRelayRefuse, kRelayDown}) {
        SCOPED_TRACE("relay +" + std::to_string(relay));
        Configure(Relay(relay));
        const Lines lines =
            RunClient("retry " + Net().address + " " + std::to_string(Net().echoPort));
        EXPECT_EQ(2u, lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const int error = ParseResult(lines[i]).error;
            EXPECT_TRUE(error == WSAECONNREFUSED || (i == 1 && error == again)) << lines[i];
        }
    }
    EXPECT_EQ(Lines{}, Escapes(DirectLog()));
}

TEST_F(ProxyCase, AProgramWhoseWinsockIsDelayLoadedIsCovered)
{
    Configure(Relay());
    const std::string client = CopyDelayLoadedClient("delayed.exe");
    for (const char* style : {"blocking", "connectex"}) {
        SCOPED_TRACE(style);
        const Lines lines =
            RunClient(std::string(style) + " " + Net().address + " 7", true, "", client);
        EXPECT_EQ(1u, lines.size());
        const ClientResult result = ParseResult(lines.empty() ? "" : lines[0]);
        EXPECT_TRUE(result.ok) << result.error;
        EXPECT_EQ(At(Net().address, 7), result.peer);
    }
    EXPECT_EQ(2u, RelayLog().size());
}

}  // namespace
