// tests/socks/socks_scripted_test.cpp
// The proxy test against a scripted loopback server: every reply path, the
// exact bytes sent, time-outs, split replies and early closes.
#include "socks/socks_test.h"
#include "tests/socks/scripted_server.h"
#include "tests/socks/test_sockets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

using socks::kInvalidSocket;
using socks::OwnedSocket;

namespace {

const Bytes kSocks4Request = {0x04, 0x01, 0x00, 0x50, 0x7F, 0x00, 0x00, 0x01, 0x00};
const Bytes kGreeting = {0x05, 0x02, 0x02, 0x00};
const Bytes kConnect = {0x05, 0x01, 0x00, 0x01, 0x7F, 0x00, 0x00, 0x01, 0x00, 0x50};
const Bytes kGranted = {0x05, 0x00, 0x00, 0x01, 0x7F, 0x00, 0x00, 0x01, 0x9C, 0x40};

// Short enough for silence tests to be quick, long enough for any reply that
// is actually sent on loopback.
constexpr int kShortTimeoutMs = 300;

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes Login(const std::string& user, const std::string& password)
{
    return Concat({{0x01, static_cast<std::uint8_t>(user.size())},
                   Text(user),
                   {static_cast<std::uint8_t>(password.size())},
                   Text(password)});
}

// A record for a test through a proxy on loopback to 127.0.0.1:80; the proxy
// port is filled in when the server is up.
ProxyTestInfo Record(int protocol, const std::string& user = "", const std::string& password = "")
{
    ProxyTestInfo info{};
    EXPECT_TRUE(SetProxyTestText(info.proxyAddress, "127.0.0.1"));
    info.protocol = protocol;
    EXPECT_TRUE(SetProxyTestText(info.userName, user));
    EXPECT_TRUE(SetProxyTestText(info.password, password));
    EXPECT_TRUE(SetProxyTestText(info.destAddress, "127.0.0.1"));
    info.destPort = 80;
    return info;
}

struct Outcome {
    bool succeeded;
    bool connected;  // the server saw a connection at all
    Bytes received;  // everything the server received, in order
    ProxyTestReport report;
};

// One TestProxy call against a server playing `script`. A returned socket is
// checked for a connection to the server and closed.
Outcome PlayAgainst(std::vector<ScriptStep> script, ProxyTestInfo info,
                    int timeoutMs = kDefaultProxyTestTimeoutMs)
{
    ScriptedServer server(std::move(script));
    info.proxyPort = server.Port();
    // Filled in by the test whatever happens: this value must not survive.
    ProxyTestReport report{ProxyTestEnd::Answered, 0x77};
    OwnedSocket tunnel(TestProxy(AF_INET, SOCK_STREAM, 0, &info, timeoutMs, &report));
    if (tunnel.Valid()) {
        EXPECT_EQ(server.Port(), PeerPort(tunnel.Get()));
    }
    const bool succeeded = tunnel.Valid();
    tunnel.Close();
    server.Finish();
    return {succeeded, server.Accepted(), server.Received(), report};
}

}  // namespace

TEST(Socks4Handshake, SendsTheRequestWithoutTheUserNameAndTakesAnyReplyTail)
{
    for (const Bytes& tail : {Bytes{0, 0, 0, 0, 0, 0}, Bytes{0x12, 0x34, 1, 2, 3, 4},
                              Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}) {
        const Outcome outcome = PlayAgainst({Receive(9), Reply(Concat({{0x00, 0x5A}, tail}))},
                                            Record(kProxyProtocolSocks4, "user", "pw"));
        EXPECT_TRUE(outcome.succeeded);
        EXPECT_EQ(kSocks4Request, outcome.received);
    }
}

TEST(Socks4Handshake, FailsOnAnyOtherReply)
{
    for (const Bytes& reply :
         {Bytes{0x00, 0x5B, 0, 0, 0, 0, 0, 0}, Bytes{0x00, 0x5C, 0, 0, 0, 0, 0, 0},
          Bytes{0x04, 0x5A, 0, 0, 0, 0, 0, 0}, Bytes{0x05, 0xFF}}) {
        const Outcome outcome =
            PlayAgainst({Receive(9), Reply(reply)}, Record(kProxyProtocolSocks4));
        EXPECT_FALSE(outcome.succeeded) << int(reply[0]) << ' ' << int(reply[1]);
        EXPECT_EQ(kSocks4Request, outcome.received);
    }
}

TEST(Socks5Handshake, NoAuthenticationChosenSendsNoCredentials)
{
    const Outcome outcome =
        PlayAgainst({Receive(4), Reply({0x05, 0x00}), Receive(10), Reply(kGranted)},
                    Record(kProxyProtocolSocks5, "user", "secret"));
    EXPECT_TRUE(outcome.succeeded);
    EXPECT_EQ(Concat({kGreeting, kConnect}), outcome.received);
}

TEST(Socks5Handshake, UnusableMethodChoiceFailsWithoutSubNegotiation)
{
    for (const Bytes& choice : {Bytes{0x05, 0xFF}, Bytes{0x05, 0x01}, Bytes{0x05, 0x03},
                                Bytes{0x04, 0x00}, Bytes{0x00, 0x5A}}) {
        const Outcome outcome = PlayAgainst({Receive(4), Reply(choice)},
                                            Record(kProxyProtocolSocks5, "user", "secret"));
        EXPECT_FALSE(outcome.succeeded) << int(choice[0]) << ' ' << int(choice[1]);
        EXPECT_EQ(kGreeting, outcome.received);
    }
}

TEST(Socks5Handshake, AcceptedLoginGoesOnToConnect)
{
    const Bytes login = Login("user", "secret");
    for (const Bytes& verdict : {Bytes{0x01, 0x00}, Bytes{0x05, 0x00}}) {
        const Outcome outcome = PlayAgainst({Receive(4), Reply({0x05, 0x02}), Receive(login.size()),
                                             Reply(verdict), Receive(10), Reply(kGranted)},
                                            Record(kProxyProtocolSocks5, "user", "secret"));
        EXPECT_TRUE(outcome.succeeded) << int(verdict[0]);
        EXPECT_EQ(Concat({kGreeting, login, kConnect}), outcome.received);
    }
}

TEST(Socks5Handshake, RefusedLoginFailsWithoutConnect)
{
    const Bytes login = Login("user", "wrong");
    for (const Bytes& verdict :
         {Bytes{0x01, 0x01}, Bytes{0x01, 0x02}, Bytes{0x05, 0x01}, Bytes{0x02, 0x00}}) {
        const Outcome outcome =
            PlayAgainst({Receive(4), Reply({0x05, 0x02}), Receive(login.size()), Reply(verdict)},
                        Record(kProxyProtocolSocks5, "user", "wrong"));
        EXPECT_FALSE(outcome.succeeded) << int(verdict[0]) << ' ' << int(verdict[1]);
        EXPECT_EQ(Concat({kGreeting, login}), outcome.received);
    }
}

TEST(Socks5Handshake, EmptyCredentialsAreSentAsZeroLengths)
{
    const Outcome outcome = PlayAgainst({Receive(4), Reply({0x05, 0x02}), Receive(3),
                                         Reply({0x01, 0x00}), Receive(10), Reply(kGranted)},
                                        Record(kProxyProtocolSocks5));
    EXPECT_TRUE(outcome.succeeded);
    EXPECT_EQ(Concat({kGreeting, {0x01, 0x00, 0x00}, kConnect}), outcome.received);
}

TEST(Socks5Handshake, RefusedConnectFails)
{
    for (const Bytes& reply : {Bytes{0x05, 0x05, 0x00, 0x01, 0, 0, 0, 0, 0, 0},
                               Bytes{0x05, 0x01, 0x00, 0x01, 0, 0, 0, 0, 0, 0},
                               Bytes{0x04, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0}}) {
        const Outcome outcome =
            PlayAgainst({Receive(4), Reply({0x05, 0x00}), Receive(10), Reply(reply)},
                        Record(kProxyProtocolSocks5));
        EXPECT_FALSE(outcome.succeeded) << int(reply[0]) << ' ' << int(reply[1]);
        EXPECT_EQ(Concat({kGreeting, kConnect}), outcome.received);
    }
}

TEST(Socks5Handshake, GrantWithAnUnknownAddressTypeFails)
{
    const Outcome outcome = PlayAgainst({Receive(4), Reply({0x05, 0x00}), Receive(10),
                                         Reply({0x05, 0x00, 0x00, 0x05, 0, 0, 0, 0, 0, 0})},
                                        Record(kProxyProtocolSocks5));
    EXPECT_FALSE(outcome.succeeded);
}

TEST(Socks5Handshake, LongestCredentialsAreSentExactly)
{
    const std::string user(255, 'u');
    const std::string password(255, 'p');
    const Bytes login = Login(user, password);
    ASSERT_EQ(3u + 255 + 255, login.size());
    const Outcome outcome = PlayAgainst({Receive(4), Reply({0x05, 0x02}), Receive(login.size()),
                                         Reply({0x01, 0x00}), Receive(10), Reply(kGranted)},
                                        Record(kProxyProtocolSocks5, user, password));
    EXPECT_TRUE(outcome.succeeded);
    EXPECT_EQ(Concat({kGreeting, login, kConnect}), outcome.received);
}

TEST(Socks5Handshake, CredentialsThatCannotBeCarriedFailBeforeConnecting)
{
    // SetProxyTestText marks a 300-byte text as not fitting; a field filled
    // by hand to its last byte has no terminator either.
    ProxyTestInfo overlongUser = Record(kProxyProtocolSocks5, "", "secret");
    EXPECT_FALSE(SetProxyTestText(overlongUser.userName, std::string(300, 'u')));
    ProxyTestInfo unterminatedUser = Record(kProxyProtocolSocks5, "", "secret");
    std::memset(unterminatedUser.userName, 'u', sizeof unterminatedUser.userName);
    ProxyTestInfo unterminatedPassword = Record(kProxyProtocolSocks5, "user");
    std::memset(unterminatedPassword.password, 'p', sizeof unterminatedPassword.password);

    for (const ProxyTestInfo& info : {overlongUser, unterminatedUser, unterminatedPassword}) {
        // The server would take the credentials if they were ever sent.
        const Outcome outcome =
            PlayAgainst({Receive(4), Reply({0x05, 0x02}), Receive(3 + 255 + 255),
                         Reply({0x01, 0x00}), Receive(10), Reply(kGranted)},
                        info);
        EXPECT_FALSE(outcome.succeeded);
        EXPECT_FALSE(outcome.connected);
        EXPECT_TRUE(outcome.received.empty());
    }
}

TEST(HandedOverSocket, IsConnectedBlockingAndWithoutNagle)
{
    const Bytes ping = Text("ping");
    const Bytes pong = Text("pong");
    const Bytes socks5Request = Concat({kGreeting, kConnect});
    const struct {
        int protocol;
        Bytes request;
        std::vector<ScriptStep> handshake;
    } cases[] = {
        {kProxyProtocolSocks4, kSocks4Request, {Receive(9), Reply({0x00, 0x5A, 0, 0, 0, 0, 0, 0})}},
        {kProxyProtocolSocks5,
         socks5Request,
         {Receive(4), Reply({0x05, 0x00}), Receive(10), Reply(kGranted)}},
        // Bound addresses of the other two types: IPv6 and a domain name.
        {kProxyProtocolSocks5,
         socks5Request,
         {Receive(4), Reply({0x05, 0x00}), Receive(10),
          Reply(Concat({{0x05, 0x00, 0x00, 0x04}, Bytes(16, 0xFE), {0x1F, 0x90}}))}},
        {kProxyProtocolSocks5,
         socks5Request,
         {Receive(4), Reply({0x05, 0x00}), Receive(10),
          Reply(Concat({{0x05, 0x00, 0x00, 0x03, 9}, Text("localhost"), {0x1F, 0x90}}))}},
    };
    for (const auto& c : cases) {
        std::vector<ScriptStep> script = c.handshake;
        // "pong" comes late, so a socket wrongly left non-blocking finds
        // nothing to read; it must be the first thing read after the handshake.
        script.insert(script.end(), {Receive(ping.size()), ReplyBytewise(pong, 100)});
        ScriptedServer server(std::move(script));
        ProxyTestInfo info = Record(c.protocol);
        info.proxyPort = server.Port();

        OwnedSocket tunnel(TestProxy(AF_INET, SOCK_STREAM, 0, &info));
        ASSERT_TRUE(tunnel.Valid()) << c.protocol;
        EXPECT_EQ(server.Port(), PeerPort(tunnel.Get()));
        EXPECT_TRUE(NoDelayEnabled(tunnel.Get()));
        Bytes answer;
        EXPECT_TRUE(SendThenReceive(tunnel.Get(), ping, pong.size(), answer));
        EXPECT_EQ(pong, answer);
        tunnel.Close();
        server.Finish();
        EXPECT_EQ(Concat({c.request, ping}), server.Received());
    }
}

TEST(SlowServer, RepliesSplitIntoSingleBytesAreGathered)
{
    const Bytes login = Login("user", "secret");
    const Outcome socks5 =
        PlayAgainst({Receive(4), ReplyBytewise({0x05, 0x02}, 15), Receive(login.size()),
                     ReplyBytewise({0x01, 0x00}, 15), Receive(10), ReplyBytewise(kGranted, 15)},
                    Record(kProxyProtocolSocks5, "user", "secret"));
    EXPECT_TRUE(socks5.succeeded);
    EXPECT_EQ(Concat({kGreeting, login, kConnect}), socks5.received);

    const Outcome socks4 =
        PlayAgainst({Receive(9), ReplyBytewise({0x00, 0x5A, 0, 80, 127, 0, 0, 1}, 15)},
                    Record(kProxyProtocolSocks4));
    EXPECT_TRUE(socks4.succeeded);
}

TEST(SlowServer, SilenceFailsWithinTheTimeout)
{
    const std::vector<std::vector<ScriptStep>> scripts = {
        {},                                              // accepts, never reads or answers
        {Receive(4)},                                    // no method choice
        {Receive(4), Reply({0x05})},                     // half a method choice
        {Receive(4), Reply({0x05, 0x00}), Receive(10)},  // no CONNECT reply
        {Receive(4), Reply({0x05, 0x00}), Receive(10), Reply({0x05, 0x00})},  // no bound address
    };
    for (std::size_t i = 0; i < scripts.size(); ++i) {
        const Outcome outcome =
            PlayAgainst(scripts[i], Record(kProxyProtocolSocks5), kShortTimeoutMs);
        EXPECT_FALSE(outcome.succeeded) << "script " << i;
    }
    const Outcome socks4 =
        PlayAgainst({Receive(9), Reply({0x00})}, Record(kProxyProtocolSocks4), kShortTimeoutMs);
    EXPECT_FALSE(socks4.succeeded);
}

TEST(SlowServer, TheTimeoutCoversTheWholeExchange)
{
    // Every byte comes well within the time-out, and so does each reply,
    // but the whole exchange takes longer than it.
    const Outcome outcome = PlayAgainst(
        {Receive(4), ReplyBytewise({0x05, 0x00}, 40), Receive(10), ReplyBytewise(kGranted, 40)},
        Record(kProxyProtocolSocks5), kShortTimeoutMs);
    EXPECT_FALSE(outcome.succeeded);
}

TEST(EarlyClose, APeerThatClosesBeforeTheWholeReplyFails)
{
    const Bytes login = Login("user", "secret");
    const std::vector<std::vector<ScriptStep>> socks5 = {
        {Hangup()},
        {Receive(4), Hangup()},
        {Receive(4), Reply({0x05}), Hangup()},
        {Receive(4), Reply({0x05, 0x02}), Receive(login.size()), Reply({0x01}), Hangup()},
        {Receive(4), Reply({0x05, 0x00}), Receive(10), Reply({0x05}), Hangup()},
        {Receive(4), Reply({0x05, 0x00}), Receive(10), Reply({0x05, 0x00, 0x00, 0x01, 0x7F, 0x00}),
         Hangup()},
    };
    for (std::size_t i = 0; i < socks5.size(); ++i) {
        EXPECT_FALSE(
            PlayAgainst(socks5[i], Record(kProxyProtocolSocks5, "user", "secret")).succeeded)
            << "script " << i;
    }
    EXPECT_FALSE(
        PlayAgainst({Receive(9), Reply({0x00}), Hangup()}, Record(kProxyProtocolSocks4)).succeeded);
    EXPECT_FALSE(PlayAgainst({Receive(9), Reply({0x00, 0x5A, 0x00, 0x50}), Hangup()},
                             Record(kProxyProtocolSocks4))
                     .succeeded);
}

TEST(ProxyTestRecordCheck, UnusableRecordsFailWithoutConnecting)
{
    EXPECT_EQ(kInvalidSocket, TestProxy(AF_INET, SOCK_STREAM, 0, nullptr));
    EXPECT_EQ(kInvalidSocket, TestSocks4(AF_INET, SOCK_STREAM, 0, nullptr));
    EXPECT_EQ(kInvalidSocket, TestSocks5(AF_INET, SOCK_STREAM, 0, nullptr));

    std::vector<std::pair<std::string, ProxyTestInfo>> cases;
    for (int protocol : {2, -1, 0x100}) {
        cases.emplace_back("protocol " + std::to_string(protocol), Record(kProxyProtocolSocks5));
        cases.back().second.protocol = protocol;
    }
    for (int protocol : {kProxyProtocolSocks4, kProxyProtocolSocks5}) {
        ProxyTestInfo badProxy = Record(protocol);
        SetProxyTestText(badProxy.proxyAddress, "127.0.0.256");
        cases.emplace_back("bad proxy address", badProxy);
        ProxyTestInfo unterminatedProxy = Record(protocol);
        std::memset(unterminatedProxy.proxyAddress, '1', sizeof unterminatedProxy.proxyAddress);
        cases.emplace_back("unterminated proxy address", unterminatedProxy);
        ProxyTestInfo badDestination = Record(protocol);
        SetProxyTestText(badDestination.destAddress, "localhost");
        cases.emplace_back("bad destination", badDestination);
    }
    const std::vector<ScriptStep> willingServer = {Receive(4), Reply({0x05, 0x00}), Receive(10),
                                                   Reply(kGranted)};
    for (const auto& c : cases) {
        const Outcome outcome = PlayAgainst(willingServer, c.second);
        EXPECT_FALSE(outcome.succeeded) << c.first;
        EXPECT_FALSE(outcome.connected) << c.first;
    }
    for (int timeoutMs : {0, -5}) {
        const Outcome outcome = PlayAgainst(willingServer, Record(kProxyProtocolSocks5), timeoutMs);
        EXPECT_FALSE(outcome.succeeded) << timeoutMs;
        EXPECT_FALSE(outcome.connected) << timeoutMs;
    }
}

namespace {

const char* EndName(ProxyTestEnd end)
{
    switch (end) {
    case ProxyTestEnd::Unusable:
        return "Unusable";
    case ProxyTestEnd::NoConnection:
        return "NoConnection";
    case ProxyTestEnd::MethodRefused:
        return "MethodRefused";
    case ProxyTestEnd::LoginRefused:
        return "LoginRefused";
    case ProxyTestEnd::Answered:
        return "Answered";
    case ProxyTestEnd::ProtocolError:
        return "ProtocolError";
    case ProxyTestEnd::TimedOut:
        return "TimedOut";
    }
    return "?";
}

std::vector<ScriptStep> Socks5Answering(const Bytes& connectReply)
{
    return {Receive(4), Reply({0x05, 0x00}), Receive(10), Reply(connectReply)};
}

}  // namespace

TEST(ProxyTestReport, EveryConnectReplyCodeIsPassedOnAndOnlyAGrantYieldsASocket)
{
    // Every code SOCKS 5 has, and two it does not: the report carries the
    // code as sent; judging it is the caller's business.
    std::vector<int> codes;
    for (int code = 0x00; code <= 0x08; ++code)
        codes.push_back(code);
    codes.push_back(0x09);
    codes.push_back(0xFF);
    for (int code : codes) {
        const auto rep = static_cast<std::uint8_t>(code);
        const Outcome outcome =
            PlayAgainst(Socks5Answering({0x05, rep, 0x00, 0x01, 10, 0, 0, 1, 0x1F, 0x90}),
                        Record(kProxyProtocolSocks5));
        EXPECT_EQ(code == 0x00, outcome.succeeded) << code;
        EXPECT_STREQ("Answered", EndName(outcome.report.end)) << code;
        EXPECT_EQ(code, outcome.report.reply) << code;
        EXPECT_EQ(Concat({kGreeting, kConnect}), outcome.received) << code;
    }
    for (int code : {0x5A, 0x5B, 0x5C, 0x5D, 0x00}) {
        const auto cd = static_cast<std::uint8_t>(code);
        const Outcome outcome = PlayAgainst({Receive(9), Reply({0x00, cd, 0, 80, 127, 0, 0, 1})},
                                            Record(kProxyProtocolSocks4));
        EXPECT_EQ(code == 0x5A, outcome.succeeded) << code;
        EXPECT_STREQ("Answered", EndName(outcome.report.end)) << code;
        EXPECT_EQ(code, outcome.report.reply) << code;
    }
}

TEST(ProxyTestReport, NamesWhereAFailedTestStopped)
{
    const Bytes login = Login("user", "secret");
    const std::vector<ScriptStep> askForLogin = {Receive(4), Reply({0x05, 0x02}),
                                                 Receive(login.size())};
    auto then = [](std::vector<ScriptStep> steps, ScriptStep last) {
        steps.push_back(std::move(last));
        return steps;
    };
    const struct {
        const char* what;
        int protocol;
        std::vector<ScriptStep> script;
        ProxyTestEnd end;
    } cases[] = {
        {"no acceptable method",
         kProxyProtocolSocks5,
         {Receive(4), Reply({0x05, 0xFF})},
         ProxyTestEnd::MethodRefused},
        {"a method not offered",
         kProxyProtocolSocks5,
         {Receive(4), Reply({0x05, 0x01})},
         ProxyTestEnd::ProtocolError},
        {"a SOCKS 4 answer to the greeting",
         kProxyProtocolSocks5,
         {Receive(4), Reply({0x00, 0x5A})},
         ProxyTestEnd::ProtocolError},
        {"login refused", kProxyProtocolSocks5, then(askForLogin, Reply({0x01, 0x01})),
         ProxyTestEnd::LoginRefused},
        {"login refused, SOCKS version in the reply", kProxyProtocolSocks5,
         then(askForLogin, Reply({0x05, 0x02})), ProxyTestEnd::LoginRefused},
        {"CONNECT reply of another version", kProxyProtocolSocks5,
         Socks5Answering({0x04, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0}), ProxyTestEnd::ProtocolError},
        {"CONNECT refusal of another version", kProxyProtocolSocks5,
         Socks5Answering({0x04, 0x05, 0x00, 0x01, 0, 0, 0, 0, 0, 0}), ProxyTestEnd::ProtocolError},
        {"grant with an unknown address type", kProxyProtocolSocks5,
         Socks5Answering({0x05, 0x00, 0x00, 0x05, 0, 0, 0, 0, 0, 0}), ProxyTestEnd::ProtocolError},
        {"refusal cut short",
         kProxyProtocolSocks5,
         {Receive(4), Reply({0x05, 0x00}), Receive(10), Reply({0x05, 0x05}), Hangup()},
         ProxyTestEnd::ProtocolError},
        {"hung up at once", kProxyProtocolSocks5, {Hangup()}, ProxyTestEnd::ProtocolError},
        {"hung up after the login", kProxyProtocolSocks5, then(askForLogin, Hangup()),
         ProxyTestEnd::ProtocolError},
        {"SOCKS 4 reply of another version",
         kProxyProtocolSocks4,
         {Receive(9), Reply({0x04, 0x5A, 0, 0, 0, 0, 0, 0})},
         ProxyTestEnd::ProtocolError},
        {"SOCKS 5 answer to SOCKS 4",
         kProxyProtocolSocks4,
         {Receive(9), Reply({0x05, 0xFF})},
         ProxyTestEnd::ProtocolError},
        {"silent", kProxyProtocolSocks5, {}, ProxyTestEnd::TimedOut},
        {"silent after the login", kProxyProtocolSocks5, askForLogin, ProxyTestEnd::TimedOut},
        {"silent after the CONNECT",
         kProxyProtocolSocks5,
         {Receive(4), Reply({0x05, 0x00}), Receive(10)},
         ProxyTestEnd::TimedOut},
        {"SOCKS 4 silent", kProxyProtocolSocks4, {Receive(9)}, ProxyTestEnd::TimedOut},
    };
    for (const auto& c : cases) {
        const Outcome outcome =
            PlayAgainst(c.script, Record(c.protocol, "user", "secret"), kShortTimeoutMs);
        EXPECT_FALSE(outcome.succeeded) << c.what;
        EXPECT_STREQ(EndName(c.end), EndName(outcome.report.end)) << c.what;
        EXPECT_EQ(-1, outcome.report.reply) << c.what;
    }
}

TEST(ProxyTestReport, RecordsRefusedAndServersNotReachedAreToldApart)
{
    ProxyTestReport report{ProxyTestEnd::Answered, 0};
    EXPECT_EQ(kInvalidSocket, TestProxy(AF_INET, SOCK_STREAM, 0, nullptr, 1000, &report));
    EXPECT_STREQ("Unusable", EndName(report.end));
    EXPECT_EQ(-1, report.reply);

    ProxyTestInfo unknownProtocol = Record(kProxyProtocolSocks5);
    unknownProtocol.protocol = 2;
    ProxyTestInfo overlongUser = Record(kProxyProtocolSocks5);
    SetProxyTestText(overlongUser.userName, std::string(300, 'u'));
    for (const ProxyTestInfo& info : {unknownProtocol, overlongUser}) {
        const Outcome outcome = PlayAgainst(Socks5Answering(kGranted), info);
        EXPECT_FALSE(outcome.connected);
        EXPECT_STREQ("Unusable", EndName(outcome.report.end));
    }

    const int closedPort = UnusedLoopbackPort();
    ASSERT_NE(0, closedPort);
    for (int protocol : {kProxyProtocolSocks4, kProxyProtocolSocks5}) {
        ProxyTestInfo info = Record(protocol);
        info.proxyPort = closedPort;
        report = ProxyTestReport{ProxyTestEnd::Answered, 0};
        EXPECT_EQ(kInvalidSocket, TestProxy(AF_INET, SOCK_STREAM, 0, &info, 2000, &report));
        EXPECT_STREQ("NoConnection", EndName(report.end)) << protocol;
        EXPECT_EQ(-1, report.reply) << protocol;
    }
}
