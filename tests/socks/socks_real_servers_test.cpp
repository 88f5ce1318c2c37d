// tests/socks/socks_real_servers_test.cpp
// The proxy test against real SOCKS servers on loopback, started by the
// socks_servers_start fixture (scripts/socks-servers): microsocks without and
// with a login, Dante without authentication (SOCKS 4 and 5) and with the
// user name method. The servers are asked to connect to 127.0.0.1:80, where
// the fixture makes sure something listens.
#include "socks/socks_test.h"
#include "tests/socks/test_sockets.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

using socks::OwnedSocket;

namespace {

// Port offsets from KESTREL_TEST_PORT_BASE, as scripts/socks-servers uses them.
constexpr int kMicrosocks = 0;
constexpr int kMicrosocksLogin = 1;
constexpr int kDante = 2;
constexpr int kDanteLogin = 3;

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

class RealServers : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string base = Environment("KESTREL_TEST_PORT_BASE");
        user_ = Environment("KESTREL_TEST_SOCKS_USER");
        password_ = Environment("KESTREL_TEST_SOCKS_PASS");
        ASSERT_FALSE(base.empty() || user_.empty() || password_.empty())
            << "run through ctest: the servers' ports and login come from its environment";
        base_ = std::atoi(base.c_str());
        ASSERT_GT(base_, 0);
    }

    ProxyTestInfo Record(int server, int protocol, const std::string& user = "",
                         const std::string& password = "", int destPort = 80) const
    {
        ProxyTestInfo info{};
        EXPECT_TRUE(SetProxyTestText(info.proxyAddress, "127.0.0.1"));
        info.proxyPort = base_ + server;
        info.protocol = protocol;
        EXPECT_TRUE(SetProxyTestText(info.userName, user));
        EXPECT_TRUE(SetProxyTestText(info.password, password));
        EXPECT_TRUE(SetProxyTestText(info.destAddress, "127.0.0.1"));
        info.destPort = destPort;
        return info;
    }

    // True when the test succeeds and hands back a socket connected to the proxy.
    static bool Succeeds(const ProxyTestInfo& info)
    {
        OwnedSocket tunnel(TestProxy(AF_INET, SOCK_STREAM, 0, &info));
        if (!tunnel.Valid()) {
            return false;
        }
        EXPECT_EQ(info.proxyPort, PeerPort(tunnel.Get()));
        return true;
    }

    int base_ = 0;
    std::string user_;
    std::string password_;
};

}  // namespace

TEST_F(RealServers, MicrosocksWithoutLogin)
{
    EXPECT_TRUE(Succeeds(Record(kMicrosocks, kProxyProtocolSocks5)));
    // Credentials set but not asked for.
    EXPECT_TRUE(Succeeds(Record(kMicrosocks, kProxyProtocolSocks5, "someone", "anything")));
}

TEST_F(RealServers, MicrosocksWithLogin)
{
    EXPECT_TRUE(Succeeds(Record(kMicrosocksLogin, kProxyProtocolSocks5, user_, password_)));
    EXPECT_FALSE(Succeeds(Record(kMicrosocksLogin, kProxyProtocolSocks5, user_, password_ + "x")));
    EXPECT_FALSE(Succeeds(Record(kMicrosocksLogin, kProxyProtocolSocks5)));
}

TEST_F(RealServers, DanteSocks4)
{
    EXPECT_TRUE(Succeeds(Record(kDante, kProxyProtocolSocks4)));
}

TEST_F(RealServers, DanteSocks5)
{
    EXPECT_TRUE(Succeeds(Record(kDante, kProxyProtocolSocks5)));
}

TEST_F(RealServers, DanteSocks5WithUserName)
{
    EXPECT_TRUE(Succeeds(Record(kDanteLogin, kProxyProtocolSocks5, user_, password_)));
    EXPECT_FALSE(Succeeds(Record(kDanteLogin, kProxyProtocolSocks5, user_, password_ + "x")));
}

TEST_F(RealServers, SocksVersionTheServerDoesNotSpeakFails)
{
    // microsocks answers a SOCKS 4 request with a SOCKS 5 refusal.
    EXPECT_FALSE(Succeeds(Record(kMicrosocks, kProxyProtocolSocks4)));
}

TEST_F(RealServers, DestinationThatRefusesFails)
{
    const int closedPort = UnusedLoopbackPort();
    ASSERT_NE(0, closedPort);
    EXPECT_FALSE(Succeeds(Record(kMicrosocks, kProxyProtocolSocks5, "", "", closedPort)));
    EXPECT_FALSE(Succeeds(Record(kDante, kProxyProtocolSocks4, "", "", closedPort)));
    EXPECT_FALSE(Succeeds(Record(kDante, kProxyProtocolSocks5, "", "", closedPort)));
}

TEST_F(RealServers, ProxyPortWithoutServerFails)
{
    ProxyTestInfo info = Record(kMicrosocks, kProxyProtocolSocks5);
    info.proxyPort = UnusedLoopbackPort();
    ASSERT_NE(0, info.proxyPort);
    EXPECT_FALSE(Succeeds(info));
    info.protocol = kProxyProtocolSocks4;
    EXPECT_FALSE(Succeeds(info));
}

TEST_F(RealServers, ReportsSayHowEachServerAnswered)
{
    const int closedPort = UnusedLoopbackPort();
    ASSERT_NE(0, closedPort);
    const struct {
        const char* what;
        ProxyTestInfo info;
        ProxyTestEnd end;
        int reply;
    } cases[] = {
        {"microsocks grants", Record(kMicrosocks, kProxyProtocolSocks5), ProxyTestEnd::Answered,
         0x00},
        {"microsocks, destination refuses",
         Record(kMicrosocks, kProxyProtocolSocks5, "", "", closedPort), ProxyTestEnd::Answered,
         0x05},
#ifndef _WIN32
        // Dante resets the connection right after a refusal. Linux keeps the
        // reply for the reader; Winsock (and Wine 10) may drop it unread.
        {"Dante SOCKS 5, destination refuses",
         Record(kDante, kProxyProtocolSocks5, "", "", closedPort), ProxyTestEnd::Answered, 0x05},
        {"Dante SOCKS 4, destination refuses",
         Record(kDante, kProxyProtocolSocks4, "", "", closedPort), ProxyTestEnd::Answered, 0x5B},
#endif
        {"microsocks, wrong password",
         Record(kMicrosocksLogin, kProxyProtocolSocks5, user_, password_ + "x"),
         ProxyTestEnd::LoginRefused, -1},
        {"microsocks, no login given", Record(kMicrosocksLogin, kProxyProtocolSocks5),
         ProxyTestEnd::LoginRefused, -1},
        {"Dante, wrong password", Record(kDanteLogin, kProxyProtocolSocks5, user_, password_ + "x"),
         ProxyTestEnd::LoginRefused, -1},
        {"microsocks asked in SOCKS 4", Record(kMicrosocks, kProxyProtocolSocks4),
         ProxyTestEnd::ProtocolError, -1},
    };
    for (const auto& c : cases) {
        ProxyTestReport report;
        OwnedSocket tunnel(
            TestProxy(AF_INET, SOCK_STREAM, 0, &c.info, kDefaultProxyTestTimeoutMs, &report));
        EXPECT_EQ(c.reply == 0x00, tunnel.Valid()) << c.what;
        EXPECT_EQ(static_cast<int>(c.end), static_cast<int>(report.end)) << c.what;
        EXPECT_EQ(c.reply, report.reply) << c.what;
    }

    ProxyTestInfo noServer = Record(kMicrosocks, kProxyProtocolSocks5);
    noServer.proxyPort = closedPort;
    ProxyTestReport report;
    EXPECT_EQ(socks::kInvalidSocket,
              TestProxy(AF_INET, SOCK_STREAM, 0, &noServer, kDefaultProxyTestTimeoutMs, &report));
    EXPECT_EQ(static_cast<int>(ProxyTestEnd::NoConnection), static_cast<int>(report.end));
}
