// tests/proxy/names_test.cpp
// Names a covered program looks up while a SOCKS 5 server is set: answered in
// the program with an address that stands for the name, which a connect then
// hands to the proxy as the name itself. echo.relay.test is known to the relay
// alone; the namespace's only name server (relay.py's) refuses every query and
// logs it, so a lookup that leaked shows in dns.log. hosts.kestrel.test is in
// the namespace's hosts file (run-isolated).
#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/proxy/proxy_case.h"

namespace {

using Lines = std::vector<std::string>;

const char kRelayName[] = "echo.relay.test";
const char kHostsName[] = "hosts.kestrel.test";

const Network& Net()
{
    return TestNetwork();
}

std::string At(const std::string& address, int port)
{
    return (address.find(':') != std::string::npos ? "[" + address + "]" : address) + ":" +
           std::to_string(port);
}

Lines Since(const Lines& lines, std::size_t from)
{
    return from <= lines.size() ? Lines(lines.begin() + static_cast<long>(from), lines.end())
                                : Lines{};
}

// The trace's "resolved=ADDRESS".
std::string Resolved(const std::string& trace)
{
    if (trace.rfind("resolved=", 0) != 0)
        return "";
    return trace.substr(
        9, trace.find(',') == std::string::npos ? std::string::npos : trace.find(',') - 9);
}

// Which form of the reserved addresses `text` is: "v4" (198.18.0.0/15),
// "mapped" (::ffff: and one of those), "v6" (2001:2::/48 with one in the last
// 32 bits); "" for any other address.
std::string ReservedForm(const std::string& text)
{
    sockaddr_storage address{};
    int length = sizeof address;
    std::string copy = text;
    const int family = text.find(':') != std::string::npos ? AF_INET6 : AF_INET;
    if (WSAStringToAddressA(&copy[0], family, nullptr, reinterpret_cast<sockaddr*>(&address),
                            &length) != 0)
        return "";
    auto reserved = [](const unsigned char* v4) { return v4[0] == 198 && (v4[1] & 0xfe) == 18; };
    if (family == AF_INET)
        return reserved(reinterpret_cast<const unsigned char*>(
                   &reinterpret_cast<const sockaddr_in&>(address).sin_addr))
                   ? "v4"
                   : "";
    const unsigned char* b = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr.s6_addr;
    const std::string head(reinterpret_cast<const char*>(b), 12);
    if (!reserved(b + 12))
        return "";
    if (head == std::string(10, '\0') + "\xff\xff")
        return "mapped";
    return head == std::string("\x20\x01\x00\x02", 4) + std::string(8, '\0') ? "v6" : "";
}

// The queries dns.log holds for `name`.
Lines QueriesFor(const Lines& dns, const std::string& name)
{
    Lines found;
    for (const std::string& line : dns)
        if (line.size() > name.size() &&
            line.compare(line.size() - name.size(), name.size(), name) == 0 &&
            line[line.size() - name.size() - 1] == ' ')
            found.push_back(line);
    return found;
}

TEST_F(ProxyCase, EveryLookupOfANameGivesAnAddressThatTheProxyReachesByName)
{
    Configure(Relay());
    struct Lookup {
        const char* style;
        const char* form;  // of the reserved address got
    };
    const Lookup lookups[] = {
        {"getaddrinfo", "v4"},         {"getaddrinfow", "v4"},          {"getaddrinfoexw", "v4"},
        {"getaddrinfoexwevent", "v4"}, {"getaddrinfoexwroutine", "v4"}, {"getaddrinfoexa", "v4"},
        {"gethostbyname", "v4"},       {"asyncgethostbyname", "v4"},    {"v4mapped", "mapped"},
        {"getaddrinfo6", "v6"},        {"connectbyname", "v4"},         {"connectbynamew", "v4"},
    };
    for (const Lookup& lookup : lookups) {
        SCOPED_TRACE(lookup.style);
        const std::size_t before = RelayLog().size();
        const ClientResult result = Connect(lookup.style, kRelayName, 7);
        EXPECT_TRUE(result.ok) << result.error << " " << result.trace;
        // Overlapped lookups complete later, as the event or routine says.
        const std::string style = lookup.style;
        if (style.find("event") != std::string::npos ||
            style.find("routine") != std::string::npos) {
            EXPECT_NE(std::string::npos,
                      result.trace.find(",call=" + std::to_string(WSA_IO_PENDING)))
                << result.trace;
        }
        // The program is connected to the address it got.
        const std::string peer = result.peer.substr(0, result.peer.rfind(':'));
        EXPECT_EQ(lookup.form,
                  ReservedForm(peer.find('[') == 0 ? peer.substr(1, peer.size() - 2) : peer));
        if (!result.trace.empty()) {
            EXPECT_EQ(At(Resolved(result.trace), 7), result.peer) << result.trace;
        }
        EXPECT_EQ(Lines{RelayLine(kRelayOpen, 5, std::string(kRelayName) + ":7")},
                  Since(RelayLog(), before));
    }
    EXPECT_EQ(Lines{}, QueriesFor(DnsLog(), kRelayName));
}

TEST_F(ProxyCase, WithoutTheLibraryTheNamespaceCannotResolveTheRelaysName)
{
    Configure(Relay());
    const ClientResult result = Connect("getaddrinfo", kRelayName, 7, false);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ("!" + std::to_string(result.error), Resolved(result.trace));
    EXPECT_NE(Lines{}, QueriesFor(DnsLog(), kRelayName));
    EXPECT_EQ(Lines{}, RelayLog());
}

TEST_F(ProxyCase, AnAddressThatStandsForANameIsLookedUpBackAsTheName)
{
    Configure(Relay());
    const ClientResult result = Connect("reverse", kRelayName, 7);
    const std::string name = kRelayName;
    EXPECT_EQ("resolved=" + Resolved(result.trace) + ",getnameinfo=" + name +
                  ",getnameinfow=" + name + ",gethostbyaddr=" + name,
              result.trace);
    EXPECT_EQ("v4", ReservedForm(Resolved(result.trace)));
}

TEST_F(ProxyCase, LocalNamesAreLookedUpByTheSystem)
{
    Configure(Relay());
    char own[256] = {};
    ASSERT_EQ(0, gethostname(own, sizeof own));
    struct Local {
        std::string name;
        bool inHostsFile;  // else the system's lookup fails in the namespace
    };
    const Local locals[] = {{"localhost", true},
                            {own, true},
                            {"kestrel.localhost", false},
                            {"intranet", false},
                            {"printer.local", false}};
    for (const Local& local : locals) {
        SCOPED_TRACE(local.name);
        const ClientResult result = Connect("getaddrinfo", local.name, Net().echoPort);
        EXPECT_EQ(local.inHostsFile, result.ok) << result.error << " " << result.trace;
        if (local.inHostsFile) {
            EXPECT_EQ("resolved=127.0.0.1", result.trace);
        } else {
            EXPECT_NE(Lines{}, QueriesFor(DnsLog(), local.name));
        }
    }
    EXPECT_EQ(Lines{}, RelayLog());
}

TEST_F(ProxyCase, DatagramsToAnAddressThatStandsForANameAndToDnsAreRefused)
{
    const std::string unreachable = std::to_string(WSAENETUNREACH);
    const std::string refused =
        "sendto=" + unreachable + ",wsasendto=" + unreachable + ",connect=" + unreachable;
    // Without the library the query reaches the name server: that is what a
    // leak would look like.
    Configure(Relay());
    EXPECT_EQ("sendto=0,wsasendto=0,connect=0", Connect("udp53", Net().address, 53, false).trace);
    EXPECT_EQ(Lines(2, "udp leak.relay.test"), QueriesFor(DnsLog(), "leak.relay.test"));

    const std::size_t before = DnsLog().size();
    const ClientResult dns = Connect("udp53", Net().address, 53);
    EXPECT_EQ(WSAENETUNREACH, dns.error);
    EXPECT_EQ(refused, dns.trace);
    EXPECT_EQ(Lines{}, Since(DnsLog(), before));

    const ClientResult reserved = Connect("udpreserved", kRelayName, 9);
    EXPECT_EQ(WSAENETUNREACH, reserved.error);
    EXPECT_EQ("resolved=" + Resolved(reserved.trace) + "," + refused, reserved.trace);
    EXPECT_EQ(Lines{}, RelayLog());
}

TEST_F(ProxyCase, NamesReachTheirDestinationsThroughEveryKindOfServer)
{
    ServerRecord microsocks = Relay();
    microsocks.Port = Net().realServerBase;
    ServerRecord dante = Relay();
    dante.Port = Net().realServerBase + 2;
    const int echo = Net().echoPort;
    // Where the name leads, the direct echo logs the connection: through the
    // relay's forward mode and the real servers, which resolve it themselves.
    struct Variant {
        const char* what;
        ServerRecord server;
        const char* name;
        int port;
        const char* form;  // of the address got; "": the hosts file's
        std::string relayLine;
        std::size_t directLines;
    };
    const Variant variants[] = {
        {"relay SOCKS 4", Relay(kRelayOpen, 4), kHostsName, 7, "",
         RelayLine(kRelayOpen, 4, At(Net().address, 7)), 0},
        {"relay forward", Relay(kRelayForward), kRelayName, echo, "v4",
         RelayLine(kRelayForward, 5, std::string(kRelayName) + ":" + std::to_string(echo)), 1},
        {"microsocks", microsocks, kHostsName, echo, "v4", "", 1},
        {"Dante", dante, kHostsName, echo, "v4", "", 1},
    };
    for (const Variant& variant : variants) {
        SCOPED_TRACE(variant.what);
        Configure(variant.server);
        const std::size_t before = RelayLog().size();
        const std::size_t directBefore = DirectLog().size();
        const ClientResult result = Connect("getaddrinfo", variant.name, variant.port);
        EXPECT_TRUE(result.ok) << result.error << " " << result.trace;
        const std::string resolved = Resolved(result.trace);
        if (*variant.form == '\0') {
            EXPECT_EQ(Net().address, resolved);
        } else {
            EXPECT_EQ(variant.form, ReservedForm(resolved));
        }
        EXPECT_EQ(variant.relayLine.empty() ? Lines{} : Lines{variant.relayLine},
                  Since(RelayLog(), before));
        EXPECT_EQ(variant.directLines, Since(DirectLog(), directBefore).size());
    }
}

}  // namespace
