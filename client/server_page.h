// client/server_page.h
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "framework/button.h"
#include "framework/dialog.h"
#include "framework/handles.h"
#include "framework/ip_address_ctrl.h"

// Sent by the test worker to the page, and waited for: wParam 1 when the
// server granted the connection, 0 when the test failed.
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

// The worker: one SOCKS test of the request's server (destination 127.0.0.1
// port 80), reported with a synchronous WM_TESTRESULT. Takes ownership of the
// request. The tunnel of a granted test stays open until the report has been
// handled, that is until the user has closed the result box.
DWORD WINAPI TestThreadProc(LPVOID request);

// Field n (from 0) of a dotted address text, as the low 8 bits of the decimal
// number at its start; 0 where the field has no digits or does not exist.
int GetOctet(const char* address, int n);

// The page that sets and tests the proxy server. It loads the server row when
// it is created and saves it when it is destroyed, with the main window.
class CServerPage : public CDialog {
public:
    CServerPage();
    bool PreTranslateMessage(MSG* msg) override;

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    void SaveServerSettings();
    void StartTest();
    void ShowTestResult(bool succeeded);
    // "%d.%d.%d.%d" of the address control's fields.
    std::string AddressText() const;

    CButton m_testButton;
    CIPAddressCtrl m_address;
    std::string m_userName;
    std::string m_password;
    int m_port = 0;
    CButton m_socks4;
    CButton m_socks5;
    // Set while a test runs, from the Test click until its result box has
    // been closed; read and written on the user-interface thread only.
    UniqueKernelHandle m_testThread;
    std::shared_ptr<TestResultTarget> m_testTarget;
};
