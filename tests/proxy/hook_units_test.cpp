// tests/proxy/hook_units_test.cpp
// The library's decisions without a program around them: what it reads from
// client.db, where a connect goes, and which names the proxy resolves.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "hook/async_lookup.h"
#include "hook/hook_config.h"
#include "hook/local_names.h"
#include "hook/name_table.h"
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
    EXPECT_EQ(hook::Route::Direct, RouteV4(m_udp, "198.51.100.7", 443, m_server));
}

// A reserved address goes out only as its name, through a server that takes
// names; a datagram to one, or a program's own query to a name server while
// the proxy resolves names, goes nowhere.
TEST_F(RouteTest, ReservedAddressesTravelAsTheirNamesOrNotAtAll)
{
    const std::uint32_t held = hook::AddressForName("intranet.example");
    const std::string text = hook::ReservedText(held, hook::AddressForm::Ipv4);
    EXPECT_EQ(hook::Route::Proxy, RouteV4(m_tcp, text.c_str(), 8443, m_server));
    EXPECT_EQ("intranet.example", m_destination.name);
    EXPECT_EQ(8443, m_destination.v4.port);
    for (hook::AddressForm form : {hook::AddressForm::Mapped, hook::AddressForm::Ipv6}) {
        EXPECT_EQ(hook::Route::Proxy,
                  RouteV6(hook::ReservedText(held, form).c_str(), m_server));
        EXPECT_EQ("intranet.example", m_destination.name);
    }
    const hook::ProxyServer socks4 = hook::CheckServer("192.0.2.1", 1080, 4, "", "");
    EXPECT_EQ(hook::Route::Refuse, RouteV4(m_tcp, text.c_str(), 80, socks4));
    EXPECT_EQ(hook::Route::Refuse, RouteV4(m_tcp, "198.19.255.254", 80, m_server)) << "not held";
    EXPECT_EQ(hook::Route::Refuse, RouteV4(m_udp, text.c_str(), 443, m_server));
    EXPECT_EQ(hook::Route::Refuse, RouteV4(m_udp, "198.51.100.7", 53, m_server));
    EXPECT_EQ(hook::Route::Direct, RouteV4(m_udp, "198.51.100.7", 53, socks4));
}

TEST(ReservedAddress, EveryFormLeadsBackToTheSameAddress)
{
    struct Case {
        const char* text;
        std::uint32_t reserved;
    };
    const Case cases[] = {
        {"198.18.0.1", 0xC6120001},
        {"198.19.255.254", 0xC613FFFE},
        {"::ffff:198.18.1.2", 0xC6120102},
        {"2001:2::c612:102", 0xC6120102},
        {"198.20.0.1", 0},
        {"198.17.255.255", 0},
        {"::ffff:203.0.113.1", 0},
        {"2001:2:0:1::c612:102", 0},
        {"2001:db8::c612:102", 0},
    };
    for (const Case& c : cases) {
        sockaddr_storage address{};
        int length = 0;
        if (inet_pton(AF_INET, c.text, &reinterpret_cast<sockaddr_in&>(address).sin_addr) == 1) {
            address.ss_family = AF_INET;
            length = sizeof(sockaddr_in);
        } else {
            ASSERT_EQ(1, inet_pton(AF_INET6, c.text,
                                   &reinterpret_cast<sockaddr_in6&>(address).sin6_addr));
            address.ss_family = AF_INET6;
            length = sizeof(sockaddr_in6);
        }
        EXPECT_EQ(c.reserved,
                  hook::ReservedAddressOf(reinterpret_cast<sockaddr*>(&address), length))
            << c.text;
    }
    EXPECT_EQ("198.18.1.2", hook::ReservedText(0xC6120102, hook::AddressForm::Ipv4));
    EXPECT_EQ("::ffff:198.18.1.2", hook::ReservedText(0xC6120102, hook::AddressForm::Mapped));
    EXPECT_EQ("2001:2::c612:102", hook::ReservedText(0xC6120102, hook::AddressForm::Ipv6));
}

// The same name keeps its address while held; the least recently used one
// leaves a full table, and its address is not handed straight to another.
TEST(NameTable, HoldsNamesLeastRecentlyUsedOut)
{
    hook::NameTable table(2);
    const std::uint32_t a = table.AddressFor("a.example");
    const std::uint32_t b = table.AddressFor("B.Example");
    EXPECT_TRUE(hook::IsReservedIpv4(a));
    EXPECT_NE(a, b);
    EXPECT_EQ(a, table.AddressFor("A.EXAMPLE"));  // also makes b the oldest
    const std::uint32_t c = table.AddressFor("c.example");
    std::string name;
    EXPECT_FALSE(table.NameOf(b, name));
    ASSERT_TRUE(table.NameOf(a, name));
    EXPECT_EQ("a.example", name);
    EXPECT_NE(b, c);
    EXPECT_EQ(2u, table.Size());
    EXPECT_EQ(0u, table.AddressFor(std::string(256, 'x')));
    EXPECT_EQ(0u, table.AddressFor(""));
}

TEST(LocalNames, OnlyNamesOfThisMachineOrItsNetworkStayLocal)
{
    const std::vector<std::string> own = {"KESTREL-PC", "kestrel-pc.corp.example"};
    struct Case {
        const char* host;
        bool numeric;
        bool local;
    };
    const Case cases[] = {
        {"localhost", false, true},       {"LOCALHOST.", false, true},
        {"app.localhost", false, true},   {"printer.local", false, true},
        {"intranet", false, true},        {"kestrel-pc", false, true},
        {"Kestrel-PC.corp.example", false, true},
        {"www.example.com", false, false}, {"example.com.", false, false},
        {"local.example.com", false, false}, {"1e100.net", false, false},
        {"face.bad", false, false},       {"10.1.2.3", true, false},
        {"10.1", true, false},            {"0x7f.1", true, false},
        {"2130706433", true, false},      {"::1", true, false},
        {"fe80::1%4", true, false},       {"1.2.3.4.5", false, false},
        {"0x", false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.numeric, hook::IsNumericHost(c.host)) << c.host;
        if (!c.numeric) {
            EXPECT_EQ(c.local, hook::IsLocalName(c.host, own)) << c.host;
        }
    }
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

// An asynchronous lookup completes the program's OVERLAPPED once, with its
// result, or with WSA_E_CANCELLED and its result released when cancelled
// first; a handle not of these lookups is left to the system.
TEST(AsyncLookup, CompletesOnceWithTheResultOrAsCancelled)
{
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "completed");
        static int s_result;
        const HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        int released = 0;
        hook::AsyncLookup lookup;
        lookup.lookup = [go](void*& result) {
            WaitForSingleObject(go, INFINITE);
            result = &s_result;
            return 0;
        };
        lookup.release = [&released](void* result) { released += result == &s_result; };
        void* slot = reinterpret_cast<void*>(1);
        lookup.resultSlot = &slot;
        lookup.overlapped = &overlapped;
        HANDLE handle = nullptr;
        ASSERT_EQ(WSA_IO_PENDING, hook::StartAsyncLookup(lookup, &handle));
        EXPECT_EQ(static_cast<ULONG_PTR>(WSAEINPROGRESS), overlapped.Internal);
        int error = -1;
        if (cancel) {
            EXPECT_TRUE(hook::CancelAsyncLookup(handle, error));
            EXPECT_EQ(0, error);
        }
        SetEvent(go);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, 10000));
        EXPECT_EQ(static_cast<ULONG_PTR>(cancel ? WSA_E_CANCELLED : 0), overlapped.Internal);
        EXPECT_EQ(cancel ? nullptr : &s_result, slot);
        EXPECT_EQ(cancel ? 1 : 0, released);
        EXPECT_FALSE(hook::CancelAsyncLookup(handle, error)) << "done: the system's handle now";
        CloseHandle(overlapped.hEvent);
        CloseHandle(go);
    }
}

}  // namespace
