// tests/proxy/proxy_test.cpp
// Programs started through the launcher, end to end: the real launcher and
// library, client.db as Kestrel writes it, the scripted relay and real SOCKS
// servers, and a direct listener that would catch any connection that left
// unproxied. Runs inside run-isolated's private network namespace.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "store/config_db.h"
#include "framework/handles.h"
#include "tests/e2e/process.h"
#include "tests/e2e/window_driver.h"
#include "tests/proxy/proxy_case.h"

namespace {

using Lines = std::vector<std::string>;

// The tunnel's own time-out; a failed connect may take it and a second more.
constexpr long long kTimeoutMs = 10000;

const Network& Net()
{
    return TestNetwork();
}

// Port 7 on the test address: nothing listens there, so only the relay
// (which joins every CONNECT to its echo server) can make it echo.
std::string Seven()
{
    return Net().address + ":7";
}

std::string LoopbackPeer(int port)
{
    return "127.0.0.1:" + std::to_string(port);
}

TEST_F(ProxyCase, EveryConnectGoesThroughTheRelayWithTheExactDestination)
{
    struct Variant {
        int type;
        int relay;
        const char* user;
        const char* password;
    };
    const Variant variants[] = {
        {5, kRelayOpen, "", ""},
        {4, kRelayOpen, "", ""},
        {5, kRelayLogin, "relay-user", "relay-pass"},
    };
    for (const Variant& variant : variants) {
        SCOPED_TRACE("SOCKS " + std::to_string(variant.type) + " relay +" +
                     std::to_string(variant.relay));
        ServerRecord server = Relay(variant.relay, variant.type);
        server.Username = variant.user;
        server.Password = variant.password;
        Configure(server);
        const Lines before = RelayLog();
        const ClientResult result = Connect("blocking", Net().address, 7);
        EXPECT_TRUE(result.ok) << result.error;
        EXPECT_EQ(Seven(), result.peer) << "the program sees its destination";
        Lines log = RelayLog();
        ASSERT_EQ(before.size() + 1, log.size());
        EXPECT_EQ(RelayLine(variant.relay, variant.type, Seven()), log.back());
    }
}

TEST_F(ProxyCase, RealServersCarryTheConnectionToTheDestination)
{
    struct Variant {
        int offset;
        int type;
        bool login;
    };
    // microsocks, microsocks with a login, Dante (4 and 5), Dante with a login.
    const Variant variants[] = {
        {0, 5, false}, {1, 5, true}, {2, 4, false}, {2, 5, false}, {3, 5, true}};
    for (const Variant& variant : variants) {
        SCOPED_TRACE("server +" + std::to_string(variant.offset) + " SOCKS " +
                     std::to_string(variant.type));
        ServerRecord server;
        server.IP = "127.0.0.1";
        server.Port = Net().realServerBase + variant.offset;
        server.Type = variant.type;
        if (variant.login) {
            server.Username = Net().realUser;
            server.Password = Net().realPassword;
        }
        Configure(server);
        const ClientResult result = Connect("blocking", Net().address, Net().echoPort);
        EXPECT_TRUE(result.ok) << result.error;
        EXPECT_EQ(Net().address + ":" + std::to_string(Net().echoPort), result.peer);
    }
}

TEST_F(ProxyCase, EveryWayOfConnectingIsRedirected)
{
    Configure(Relay());
    const char* styles[] = {"nonblocking", "wsaconnect", "getprocaddress",
                            "connectex",   "thread",     "ctor"};
    for (const char* style : styles) {
        SCOPED_TRACE(style);
        const std::size_t before = RelayLog().size();
        const ClientResult result = Connect(style, Net().address, 7);
        EXPECT_TRUE(result.ok) << result.error;
        EXPECT_EQ(Seven(), result.peer);
        const Lines log = RelayLog();
        ASSERT_EQ(before + 1, log.size());
        EXPECT_EQ(RelayLine(kRelayOpen, 5, Seven()), log.back());
    }
}

// SOCKS 4 has no IPv6 addresses; SOCKS 5 carries them (engine_test.cpp).
TEST_F(ProxyCase, LoopbackGoesDirectAndIpv6ThroughSocks4FailsClosed)
{
    Configure(Relay(kRelayOpen, 4));
    const ClientResult loopback = Connect("blocking", "127.0.0.1", Net().echoPort);
    EXPECT_TRUE(loopback.ok) << loopback.error;
    EXPECT_EQ(LoopbackPeer(Net().echoPort), loopback.peer);

    const ClientResult ipv6 = Connect("ipv6", "2001:db8::10", 7);
    EXPECT_FALSE(ipv6.ok);
    EXPECT_EQ(WSAENETUNREACH, ipv6.error);
    const ClientResult ipv6Loopback = Connect("ipv6", "::1", 7);
    EXPECT_EQ(WSAECONNREFUSED, ipv6Loopback.error) << "::1 is connected to directly";
    EXPECT_TRUE(RelayLog().empty());
}

TEST_F(ProxyCase, ProgramListCoversListedProgramsByTheirLongPathInAnyCase)
{
    const std::string listed = CopyClient("Listed Client.exe");
    const std::string shortListed = CopyClient("ShortNamed Client.exe");
    const std::string unlisted = CopyClient("unlisted.exe");
    char shortPath[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameA(shortListed.c_str(), shortPath, sizeof shortPath));
    ASSERT_NE(shortListed, shortPath);
    std::string otherCase = listed;
    CharUpperBuffA(&otherCase[0], static_cast<DWORD>(otherCase.size()));

    Configure(Relay(), "1", "ProgramList");
    CConfigDb db;
    db.SetDbPath(Db());
    ASSERT_TRUE(db.AddApp(otherCase));
    ASSERT_TRUE(db.AddApp(shortPath));

    const std::string seven = "blocking " + Net().address + " 7";
    for (const std::string& client : {listed, shortListed}) {
        SCOPED_TRACE(client);
        const Lines lines = RunClient(seven, true, "", client);
        ASSERT_EQ(1u, lines.size());
        EXPECT_TRUE(ParseResult(lines[0]).ok) << lines[0];
    }
    const Lines lines = RunClient(seven, true, "", unlisted);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(WSAECONNREFUSED, ParseResult(lines[0]).error) << "the direct connect is refused";
    EXPECT_EQ(2u, RelayLog().size());
}

TEST_F(ProxyCase, ProxyingOffOrNotExactlyOnLeavesTheProgramUntouched)
{
    const char* values[] = {"0", nullptr, "1 "};
    for (const char* value : values) {
        SCOPED_TRACE(value != nullptr ? std::string("\"") + value + "\"" : "no row");
        std::filesystem::remove(Db());
        Configure(Relay(), value);
        const ClientResult result = Connect("blocking", Net().address, 7);
        EXPECT_EQ(WSAECONNREFUSED, result.error);
    }
    EXPECT_TRUE(RelayLog().empty());
}

TEST_F(ProxyCase, ARunningProgramKeepsTheSettingsItStartedWith)
{
    Configure(Relay());
    const std::string event = "KestrelProxyTestHold";
    UniqueKernelHandle go(CreateEventA(nullptr, TRUE, FALSE, event.c_str()));
    const std::string result = ResultFile("result");
    e2e::Process client(Launcher(),
                        "-wait \"" + Program("client.exe") + "\" \"" + result + "\" hold " +
                            Net().address + " 7 " + event,
                        m_folder);
    ASSERT_TRUE(client.Started());
    ASSERT_TRUE(e2e::WaitUntil([&] { return ReadLines(result).size() == 1; }, 30000));

    // Kestrel's write succeeds while the program runs: the library holds
    // nothing open.
    CConfigDb db;
    db.SetDbPath(Db());
    EXPECT_TRUE(db.SetSetting("Enable", "0"));
    SetEvent(go.Get());
    ASSERT_TRUE(client.WaitForExit(30000));
    const Lines lines = ReadLines(result);
    ASSERT_EQ(2u, lines.size());
    EXPECT_TRUE(ParseResult(lines[0]).ok) << lines[0];
    EXPECT_TRUE(ParseResult(lines[1]).ok) << lines[1];
    EXPECT_EQ(2u, RelayLog().size());

    EXPECT_EQ(WSAECONNREFUSED, Connect("blocking", Net().address, 7).error)
        << "the next start follows the change";
}

TEST_F(ProxyCase, ChildrenAndGrandchildrenAreCovered)
{
    Configure(Relay());
    const std::string grandchild = ResultFile("grandchild");
    const Lines lines = RunClient("spawn \"" + Program("client.exe") + "\" \"" +
                                  ResultFile("child") + "\" spawnw \"" + Program("client.exe") +
                                  "\" \"" + grandchild + "\" blocking " + Net().address + " 7");
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("spawned 0", lines[0]);
    const Lines grand = ReadLines(grandchild);
    ASSERT_EQ(1u, grand.size());
    EXPECT_TRUE(ParseResult(grand[0]).ok) << grand[0];
    EXPECT_EQ(Lines{RelayLine(kRelayOpen, 5, Seven())}, RelayLog());
}

TEST_F(ProxyCase, ProgramsOfTheOtherWidthAreCovered)
{
    if (!HaveOtherWidth())
        GTEST_SKIP() << "the other width's build is not there or cannot run here";
    Configure(Relay());
    const std::string other = CopyClient("other-width.exe", true);
    // A child of the other width, and the other width's launcher handing a
    // program back.
    const std::string childResult = ResultFile("child");
    const Lines lines = RunClient("spawn \"" + other + "\" \"" + childResult + "\" blocking " +
                                  Net().address + " 7");
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("spawned 0", lines[0]);
    const Lines child = ReadLines(childResult);
    ASSERT_EQ(1u, child.size());
    EXPECT_TRUE(ParseResult(child[0]).ok) << child[0];

    const Lines handedOver =
        RunClient("blocking " + Net().address + " 7", true, OtherWidthLauncher());
    ASSERT_EQ(1u, handedOver.size());
    EXPECT_TRUE(ParseResult(handedOver[0]).ok) << handedOver[0];
    EXPECT_EQ(2u, RelayLog().size());
}

TEST_F(ProxyCase, FailuresFailTheConnectWithoutADirectConnection)
{
    struct Variant {
        const char* what;
        ServerRecord server;
    };
    ServerRecord wrongPassword = Relay(kRelayLogin);
    wrongPassword.Username = "relay-user";
    wrongPassword.Password = "wrong";
    ServerRecord noAddress = Relay();
    noAddress.IP = "";
    ServerRecord shortAddress = Relay();
    shortAddress.IP = "127.1";
    ServerRecord portZero = Relay();
    portZero.Port = 0;
    ServerRecord portTooHigh = Relay();
    portTooHigh.Port = 65536 + Relay().Port;
    ServerRecord typeSix = Relay(kRelayOpen, 6);
    const Variant variants[] = {
        {"proxy down", Relay(kRelayDown)},        {"wrong password", wrongPassword},
        {"CONNECT refused", Relay(kRelayRefuse)}, {"SOCKS 4 refused", Relay(kRelayRefuse, 4)},
        {"silent server", Relay(kRelaySilent)},   {"no address", noAddress},
        {"short address", shortAddress},          {"port 0", portZero},
        {"port above 65535", portTooHigh},        {"type 6", typeSix},
    };
    for (const Variant& variant : variants) {
        SCOPED_TRACE(variant.what);
        Configure(variant.server);
        // The echo on the test address answers any direct connect.
        const ClientResult result = Connect("blocking", Net().address, Net().echoPort);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(0, result.error);
        EXPECT_LT(result.elapsedMs, kTimeoutMs + 1000);
    }
    EXPECT_TRUE(DirectLog().empty());
}

TEST_F(ProxyCase, ALockedDatabaseNeitherStopsTheProgramNorKestrelsNextWrite)
{
    Configure(Relay());
    CConfigDb db;
    db.SetDbPath(Db());
    {
        // Held throughout the start: the library gives up and leaves the
        // program untouched.
        ExclusiveLock lock(Db());
        ASSERT_TRUE(lock.Held());
        EXPECT_EQ(WSAECONNREFUSED, Connect("blocking", Net().address, 7).error);
    }
    EXPECT_TRUE(db.SetSetting("ApplyArea", "All"));
    {
        // Released while the library waits: it reads and covers the program.
        ExclusiveLock lock(Db());
        ASSERT_TRUE(lock.Held());
        std::thread release([&] {
            Sleep(300);
            lock.Release();
        });
        const ClientResult result = Connect("blocking", Net().address, 7);
        release.join();
        EXPECT_TRUE(result.ok) << result.error;
    }
    EXPECT_TRUE(db.SetSetting("Enable", "1"));
}

}  // namespace
