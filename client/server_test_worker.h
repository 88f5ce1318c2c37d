// client/server_test_worker.h
// The server page's test, run on a worker thread so that the page keeps
// answering while a server is slow or silent.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "socks/socks_test.h"

// Sent by the test worker to the page, and waited for: wParam 1 when the
// server's answer shows the settings work, 0 when it does not.
constexpr UINT WM_TESTRESULT = WM_USER + 100;

// Where a test worker reports. The page clears it when its window goes, so a
// worker that outlives the page reports to nobody instead of to a dead page.
struct TestResultTarget {
    std::atomic<HWND> page{nullptr};
};

// What the Test click hands to the worker; the worker owns it from then on.
struct TestRequest {
    int port = 0;
    int type = 5;
    std::string address;
    std::string userName;
    std::string password;
    std::shared_ptr<TestResultTarget> target;
};

// What the user asks is whether the server takes these settings, not whether
// the test's own destination can be reached: any answer to the CONNECT that
// could only follow an accepted login counts. A SOCKS 4 refusal cannot say
// why, so there only a grant counts.
bool TestShowsServerWorks(int protocol, const ProxyTestReport& report);

// The worker: one SOCKS test of the request's server (destination 127.0.0.1
// port 80), reported with a synchronous WM_TESTRESULT. Takes ownership of the
// request. The tunnel of a granted test stays open until the report has been
// handled, that is until the user has closed the result box.
DWORD WINAPI TestThreadProc(LPVOID request);
