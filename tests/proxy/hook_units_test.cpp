// tests/proxy/hook_units_test.cpp
// The library's decisions without a program around them: what it reads from
// client.db and where a connect goes.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "hook/hook_config.h"
#include "hook/route.h"
#include "store/config_db.h"

namespace {

std::string TestFolder()
{
    const char* tmp = std::getenv("KESTREL_TEST_TMP");
    std::string folder = std::string(tmp != nullptr ? tmp : ".") + "/hook_units";
    std::filesystem::create_directories(folder);
    return folder;
}

class HookConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = TestFolder() + "/client.db";
        std::filesystem::remove(m_path);
        m_db.SetDbPath(m_path);
        ASSERT_TRUE(m_db.InitDatabase());
    }
    std::string m_path;
    CConfigDb m_db;
};

// "Enable" is covered end to end; the scope's text counts only when exact.
TEST_F(HookConfigTest, OnlyExactlyAllWidensTheScope)
{
    ASSERT_TRUE(m_db.SetSetting("Enable", "1"));
    ASSERT_TRUE(m_db.SetSetting("ApplyArea", "all"));
    hook::HookConfig config;
    ASSERT_TRUE(hook::ReadHookConfig(m_path, 0, config));
    EXPECT_TRUE(config.enabled);
    EXPECT_FALSE(config.allPrograms);
    ASSERT_TRUE(m_db.SetSetting("ApplyArea", "All"));
    ASSERT_TRUE(hook::ReadHookConfig(m_path, 0, config));
    EXPECT_TRUE(config.allPrograms);
}

TEST_F(HookConfigTest, AMissingDatabaseIsNeitherReadNorCreated)
{
    const std::string missing = TestFolder() + "/missing.db";
    std::filesystem::remove(missing);
    hook::HookConfig config;
    EXPECT_FALSE(hook::ReadHookConfig(missing, 0, config));
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST(ProxyServerCheck, RefusesWhatCannotBeDialled)
{
    EXPECT_TRUE(hook::CheckServer("10.0.0.1", 1080, 5, "", "").usable);
    EXPECT_TRUE(hook::CheckServer("10.0.0.1", 65535, 4, "", "").usable);
    EXPECT_FALSE(hook::CheckServer("", 1080, 5, "", "").usable);
    EXPECT_FALSE(hook::CheckServer("10.0.1", 1080, 5, "", "").usable);
    EXPECT_FALSE(hook::CheckServer("10.0.0.256", 1080, 5, "", "").usable);
    EXPECT_FALSE(hook::CheckServer(" 10.0.0.1", 1080, 5, "", "").usable);
    EXPECT_FALSE(hook::CheckServer("10.0.0.1", 0, 5, "", "").usable);
    EXPECT_FALSE(hook::CheckServer("10.0.0.1", 65536 + 1080, 5, "", "").usable);
    EXPECT_FALSE(hook::CheckServer("10.0.0.1", -1, 5, "", "").usable);
    EXPECT_FALSE(hook::CheckServer("10.0.0.1", 1080, 6, "", "").usable);
    EXPECT_FALSE(hook::CheckServer("10.0.0.1", 1080, 0, "", "").usable);
}

class RouteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
        m_tcp = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        m_tcp6 = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
        m_udp = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        m_server = hook::CheckServer("192.0.2.1", 1080, 5, "", "");
    }
    void TearDown() override
    {
        closesocket(m_tcp);
        closesocket(m_tcp6);
        closesocket(m_udp);
        WSACleanup();
    }
    hook::Route RouteV4(SOCKET s, const char* address, int port, const hook::ProxyServer& server)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<u_short>(port));
        inet_pton(AF_INET, address, &to.sin_addr);
        m_destination = {};
        return hook::ChooseRoute(server, s, reinterpret_cast<const sockaddr*>(&to), sizeof to,
                                 m_destination);
    }
    hook::Route RouteV6(const char* address, const hook::ProxyServer& server)
    {
        sockaddr_in6 to{};
        to.sin6_family = AF_INET6;
        to.sin6_port = htons(80);
        inet_pton(AF_INET6, address, &to.sin6_addr);
        m_destination = {};
        return hook::ChooseRoute(server, m_tcp6, reinterpret_cast<const sockaddr*>(&to),
                                 sizeof to, m_destination);
    }
    SOCKET m_tcp = INVALID_SOCKET;
    SOCKET m_tcp6 = INVALID_SOCKET;
    SOCKET m_udp = INVALID_SOCKET;
    hook::ProxyServer m_server;
    hook::Destination m_destination;
};

TEST_F(RouteTest, OtherIpv4DestinationsGoThroughTheProxyInWireOrder)
{
    EXPECT_EQ(hook::Route::Proxy, RouteV4(m_tcp, "198.51.100.7", 8080, m_server));
    EXPECT_EQ((socks::Ipv4Address{198, 51, 100, 7}), m_destination.v4.address);
    EXPECT_EQ(8080, m_destination.v4.port);
    EXPECT_EQ(static_cast<int>(sizeof(sockaddr_in)), m_destination.length);
}

// A dual-stack socket's IPv4 destinations are routed as IPv4; the program's
// own form is what getpeername gives back.
TEST_F(RouteTest, MappedIpv4IsRoutedAsIpv4AndNativeIpv6NeedsSocks5)
{
    EXPECT_EQ(hook::Route::Proxy, RouteV6("::ffff:198.51.100.7", m_server));
    EXPECT_FALSE(m_destination.ipv6);
    EXPECT_EQ((socks::Ipv4Address{198, 51, 100, 7}), m_destination.v4.address);
    EXPECT_EQ(AF_INET6, m_destination.address.ss_family);
    EXPECT_EQ(hook::Route::Direct, RouteV6("::ffff:192.0.2.1", m_server)) << "the proxy itself";

    EXPECT_EQ(hook::Route::Proxy, RouteV6("2001:db8::1", m_server));
    EXPECT_TRUE(m_destination.ipv6);
    EXPECT_EQ(0x20, m_destination.v6.address[0]);
    EXPECT_EQ(0x01, m_destination.v6.address[15]);
    EXPECT_EQ(80, m_destination.v6.port);
    const hook::ProxyServer socks4 = hook::CheckServer("192.0.2.1", 1080, 4, "", "");
    EXPECT_EQ(hook::Route::Refuse, RouteV6("2001:db8::1", socks4));
    EXPECT_EQ(hook::Route::Proxy, RouteV6("::ffff:198.51.100.7", socks4));
}

TEST_F(RouteTest, LoopbackTheProxyItselfAndUdpGoDirect)
{
    EXPECT_EQ(hook::Route::Direct, RouteV4(m_tcp, "127.0.0.1", 80, m_server));
    EXPECT_EQ(hook::Route::Direct, RouteV4(m_tcp, "127.45.6.7", 80, m_server));
    EXPECT_EQ(hook::Route::Direct, RouteV4(m_tcp, "192.0.2.1", 443, m_server));
    EXPECT_EQ(hook::Route::Direct, RouteV4(m_udp, "198.51.100.7", 53, m_server));
}

TEST_F(RouteTest, WhatCannotBeProxiedFailsClosed)
{
    const hook::ProxyServer bad = hook::CheckServer("", 1080, 5, "", "");
    EXPECT_EQ(hook::Route::Refuse, RouteV4(m_tcp, "198.51.100.7", 80, bad));
    EXPECT_EQ(hook::Route::Direct, RouteV4(m_tcp, "127.0.0.1", 80, bad));
    EXPECT_EQ(hook::Route::Refuse, RouteV6("2001:db8::1", bad));
    EXPECT_EQ(hook::Route::Refuse, RouteV6("::ffff:198.51.100.7", bad));
    EXPECT_EQ(hook::Route::Direct, RouteV6("::1", bad));
    EXPECT_EQ(hook::Route::Direct, RouteV6("::ffff:127.0.0.1", bad));
}

}  // namespace
