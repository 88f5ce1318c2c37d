// client/server_page.h
#pragma once

#include <memory>
#include <string>

#include "client/server_test_worker.h"
#include "framework/button.h"
#include "framework/dialog.h"
#include "framework/handles.h"
#include "framework/ip_address_ctrl.h"

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
