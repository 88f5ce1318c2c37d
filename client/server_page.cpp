// client/server_page.cpp
#include "client/server_page.h"

#include <winsock2.h>

#include <cstdio>
#include <cstring>

#include "client/address_text.h"
#include "client/resource.h"
#include "common/config_notify.h"
#include "common/module_dir.h"
#include "framework/app.h"
#include "store/config_db.h"

namespace {

const char kDefaultServerAddress[] = "192.168.1.1";
const int kPasswordMaxChars = 30;

}  // namespace

CServerPage::CServerPage() : CDialog(IDD_SERVER_PAGE) {}

bool CServerPage::PreTranslateMessage(MSG* msg)
{
    if (IsEscapeKeyMessage(*msg))
        return true;
    return CDialog::PreTranslateMessage(msg);
}

void CServerPage::DoDataExchange(CDataExchange& dx)
{
    DDX_Control(dx, IDC_TEST_SERVER, m_testButton);
    DDX_Control(dx, IDC_SERVER_ADDRESS, m_address);
    DDX_Text(dx, IDC_USER_NAME, m_userName);
    DDX_Text(dx, IDC_PASSWORD, m_password);
    DDV_MaxChars(dx, m_password, kPasswordMaxChars);
    DDX_Text(dx, IDC_SERVER_PORT, m_port);
    DDV_MinMaxInt(dx, m_port, 1, 65535);
    DDX_Control(dx, IDC_SOCKS4, m_socks4);
    DDX_Control(dx, IDC_SOCKS5, m_socks5);
}

bool CServerPage::OnInitDialog()
{
    CDialog::OnInitDialog();

    std::string address;
    std::string userName;
    std::string password;
    int type = 0;
    CConfigDb db;
    db.SetDbPath(GetClientDbPath());
    db.LoadServer(address, m_port, userName, password, type);
    m_userName = userName;
    m_password = password;
    if (address.empty())
        address = kDefaultServerAddress;
    m_address.SetAddress(static_cast<BYTE>(GetOctet(address.c_str(), 0)),
                         static_cast<BYTE>(GetOctet(address.c_str(), 1)),
                         static_cast<BYTE>(GetOctet(address.c_str(), 2)),
                         static_cast<BYTE>(GetOctet(address.c_str(), 3)));
    if (type == 4)
        m_socks4.SetCheck(true);
    else
        m_socks5.SetCheck(true);
    UpdateData(false);
    return true;
}

std::string CServerPage::AddressText() const
{
    BYTE f0 = 0, f1 = 0, f2 = 0, f3 = 0;
    m_address.GetAddress(f0, f1, f2, f3);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", f0, f1, f2, f3);
    return text;
}

void CServerPage::SaveServerSettings()
{
    if (!UpdateData(true))
        return;
    ServerRecord server;
    server.IP = AddressText();
    server.Port = m_port;
    server.Username = m_userName;
    server.Password = m_password;
    server.Type = m_socks4.IsChecked() ? 4 : 5;
    CConfigDb db;
    db.SetDbPath(GetClientDbPath());
    db.SaveServer(server);
    NotifyConfigChanged();
}

void CServerPage::StartTest()
{
    auto request = std::make_unique<TestRequest>();
    if (!UpdateData(true))
        return;
    request->address = AddressText();
    request->type = m_socks5.IsChecked() ? 5 : 4;
    request->password = m_password;
    request->userName = m_userName;
    request->port = m_port;
    // One test at a time: a click while one runs is ignored.
    if (m_testThread)
        return;
    if (!m_testTarget) {
        m_testTarget = std::make_shared<TestResultTarget>();
        m_testTarget->page.store(GetSafeHwnd());
    }
    request->target = m_testTarget;
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, &TestThreadProc, request.get(), 0, &threadId);
    if (!thread)
        return;
    request.release();  // the worker's now
    m_testThread.Reset(thread);
    m_testButton.Enable(false);
}

void CServerPage::ShowTestResult(bool succeeded)
{
    m_testButton.Enable(true);
    const std::string caption = LoadResourceString(IDS_PRODUCT_NAME);
    const std::string text = LoadResourceString(succeeded ? IDS_TEST_SUCCEEDED : IDS_TEST_FAILED);
    MessageBoxA(GetSafeHwnd(), text.c_str(), caption.c_str(),
                MB_OK | (succeeded ? MB_ICONINFORMATION : MB_ICONEXCLAMATION));
    // The worker goes on only now, to close the tunnel and end: the test is
    // over as far as the page is concerned.
    m_testThread.Reset();
}

bool CServerPage::OnCommand(int id, int code, HWND control)
{
    if (code == BN_CLICKED && id == IDC_TEST_SERVER) {
        StartTest();
        return true;
    }
    if (code == BN_CLICKED && id == IDC_APPLY_SERVER) {
        SaveServerSettings();
        return true;
    }
    return CDialog::OnCommand(id, code, control);
}

bool CServerPage::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    switch (msg) {
    case WM_TESTRESULT:
        ShowTestResult(wParam == 1);
        *result = 1;
        return true;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(GetSafeHwnd(), &paint);
        EndPaint(GetSafeHwnd(), &paint);
        *result = 0;
        return true;
    }
    case WM_DESTROY:
        if (UpdateData(true))
            SaveServerSettings();
        // A test still waiting reports to nobody; the process may end
        // without waiting for it.
        if (m_testTarget)
            m_testTarget->page.store(nullptr);
        m_testThread.Reset();
        return CDialog::OnMessage(msg, wParam, lParam, result);
    default:
        return CDialog::OnMessage(msg, wParam, lParam, result);
    }
}
