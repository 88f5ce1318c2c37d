// tests/socks/socks_messages_test.cpp
// What the handshake tests cannot reach or see: address parsing, the limits
// of the messages and the record's fields. No network.
#include "socks/socks_messages.h"
#include "socks/socks_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace socks;

TEST(Ipv4Text, ParsesDottedDecimal)
{
    const struct {
        const char* text;
        Ipv4Address expected;
    } cases[] = {
        {"127.0.0.1", {127, 0, 0, 1}},
        {"0.0.0.0", {0, 0, 0, 0}},
        {"255.255.255.255", {255, 255, 255, 255}},
        {"10.200.3.45", {10, 200, 3, 45}},
    };
    for (const auto& c : cases) {
        Ipv4Address address{};
        EXPECT_TRUE(ParseIpv4(c.text, address)) << c.text;
        EXPECT_EQ(c.expected, address) << c.text;
    }
}

TEST(Ipv4Text, RefusesAnythingElseAndLeavesTheResultAlone)
{
    for (const char* text : {"", "127.0.0", "127.0.0.1.5", "127.0.0.1.", ".127.0.0.1", "256.0.0.1",
                             "1.2.3.1000", "1..2.3", " 1.2.3.4", "1.2.3.4 ", "a.b.c.d", "-1.2.3.4",
                             "127.1", "010.0.0.1", "1.2.3.00", "0x7f.0.0.1", "1.2.3.4\n"}) {
        Ipv4Address address{9, 9, 9, 9};
        EXPECT_FALSE(ParseIpv4(text, address)) << '"' << text << '"';
        EXPECT_EQ((Ipv4Address{9, 9, 9, 9}), address) << text;
    }
}

TEST(Socks5Message, UserPasswordRefusesTextsOverOneLengthByte)
{
    const std::string tooLong(256, 'x');
    std::vector<std::uint8_t> message{0xEE};
    EXPECT_FALSE(EncodeSocks5UserPassword(tooLong, "p", message));
    EXPECT_TRUE(message.empty());
    message = {0xEE};
    EXPECT_FALSE(EncodeSocks5UserPassword("u", tooLong, message));
    EXPECT_TRUE(message.empty());
}

TEST(Socks5Message, BoundAddressLengthComesFromItsType)
{
    EXPECT_EQ(3 + 2, Socks5ReplyRestSize({0x00, 0x01, 0x7F}));
    EXPECT_EQ(15 + 2, Socks5ReplyRestSize({0x00, 0x04, 0x20}));
    EXPECT_EQ(9 + 2, Socks5ReplyRestSize({0x00, 0x03, 9}));
    EXPECT_EQ(255 + 2, Socks5ReplyRestSize({0x00, 0x03, 255}));
    for (std::uint8_t type : {0x00, 0x02, 0x05, 0xFF}) {
        EXPECT_EQ(-1, Socks5ReplyRestSize({0x00, type, 0x01})) << int(type);
    }
}

TEST(Socks5Message, Ipv6ConnectCarriesSixteenAddressBytesInWireOrder)
{
    Ipv6Endpoint destination{};
    for (std::size_t i = 0; i < destination.address.size(); ++i)
        destination.address[i] = static_cast<std::uint8_t>(0xA0 + i);
    destination.port = 0x1F90;
    const auto message = EncodeSocks5Connect(destination);
    const std::vector<std::uint8_t> head(message.begin(), message.begin() + 4);
    EXPECT_EQ((std::vector<std::uint8_t>{0x05, 0x01, 0x00, 0x04}), head);
    EXPECT_TRUE(
        std::equal(destination.address.begin(), destination.address.end(), message.begin() + 4));
    EXPECT_EQ(0x1F, message[20]);
    EXPECT_EQ(0x90, message[21]);
}

TEST(Socks5Message, NameConnectCarriesTheNameAfterItsLengthAndRefusesWhatCannotFit)
{
    std::vector<std::uint8_t> message;
    ASSERT_TRUE(EncodeSocks5ConnectName("intra.example", 443, message));
    const std::vector<std::uint8_t> expected = {0x05, 0x01, 0x00, 0x03, 13,   'i', 'n',
                                                't',  'r',  'a',  '.',  'e',  'x', 'a',
                                                'm',  'p',  'l',  'e',  0x01, 0xBB};
    EXPECT_EQ(expected, message);
    ASSERT_TRUE(EncodeSocks5ConnectName(std::string(255, 'n'), 1, message));
    EXPECT_EQ(4u + 1 + 255 + 2, message.size());
    for (const std::string& bad : {std::string(), std::string(256, 'n')}) {
        message = {0xEE};
        EXPECT_FALSE(EncodeSocks5ConnectName(bad, 80, message)) << bad.size();
        EXPECT_TRUE(message.empty());
    }
}

TEST(ProxyTestRecord, TextThatFitsIsTerminatedAndTheRestZeroed)
{
    char field[8];
    std::memset(field, 'x', sizeof field);
    ASSERT_TRUE(SetProxyTestText(field, "abc"));
    EXPECT_EQ(0, std::memcmp(field, "abc\0\0\0\0\0", sizeof field));

    ASSERT_TRUE(SetProxyTestText(field, "1234567"));
    EXPECT_EQ(0, std::memcmp(field, "1234567", sizeof field));

    ASSERT_TRUE(SetProxyTestText(field, ""));
    EXPECT_EQ(0, std::memcmp(field, "\0\0\0\0\0\0\0\0", sizeof field));
}

TEST(ProxyTestRecord, TextThatDoesNotFitLeavesNoTerminator)
{
    const std::string tooLong(8, 'a');
    const std::string withZero("ab\0cd", 5);
    for (const std::string& text : {tooLong, std::string(300, 'b'), withZero}) {
        char field[8] = {};
        EXPECT_FALSE(SetProxyTestText(field, text)) << text.size();
        EXPECT_EQ(nullptr, std::memchr(field, '\0', sizeof field)) << text.size();
    }
}
