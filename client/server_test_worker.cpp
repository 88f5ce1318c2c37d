// client/server_test_worker.cpp
#include "client/server_test_worker.h"

#include "socks/socks_messages.h"

bool TestShowsServerWorks(int protocol, const ProxyTestReport& report)
{
    if (report.end != ProxyTestEnd::Answered)
        return false;
    if (protocol == kProxyProtocolSocks4)
        return report.reply == socks::kSocks4RequestGranted;
    switch (static_cast<socks::Socks5Reply>(report.reply)) {
    case socks::Socks5Reply::Succeeded:
    case socks::Socks5Reply::NotAllowedByRuleset:
    case socks::Socks5Reply::NetworkUnreachable:
    case socks::Socks5Reply::HostUnreachable:
    case socks::Socks5Reply::ConnectionRefused:
    case socks::Socks5Reply::TtlExpired:
        return true;
    case socks::Socks5Reply::GeneralFailure:
    case socks::Socks5Reply::CommandNotSupported:
    case socks::Socks5Reply::AddressTypeNotSupported:
        break;
    }
    // A general failure, a request the server cannot read, or a code the
    // protocol does not have: nothing shows the server handled the request.
    return false;
}

DWORD WINAPI TestThreadProc(LPVOID param)
{
    std::unique_ptr<TestRequest> request(static_cast<TestRequest*>(param));
    ProxyTestInfo info = {};
    // A text a field cannot hold (a user name over 255 bytes) leaves the field
    // unterminated, and the test then fails without connecting.
    SetProxyTestText(info.proxyAddress, request->address);
    info.proxyPort = request->port;
    info.protocol = request->type == 5 ? kProxyProtocolSocks5 : kProxyProtocolSocks4;
    SetProxyTestText(info.userName, request->userName);
    SetProxyTestText(info.password, request->password);
    SetProxyTestText(info.destAddress, "127.0.0.1");
    info.destPort = 80;

    ProxyTestReport report;
    socks::OwnedSocket tunnel(
        TestProxy(AF_INET, SOCK_STREAM, 0, &info, kDefaultProxyTestTimeoutMs, &report));
    const bool works = TestShowsServerWorks(info.protocol, report);
    // The page may be gone by now (the main window closed during the test):
    // then nobody is told, and nothing of the page is touched.
    if (HWND page = request->target->page.load())
        SendMessageA(page, WM_TESTRESULT, works ? 1 : 0, 0);
    tunnel.Close();
    return 1;
}
