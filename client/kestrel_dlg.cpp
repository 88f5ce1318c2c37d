// client/kestrel_dlg.cpp
#include "client/kestrel_dlg.h"

#include <string>

#include "client/about_dlg.h"
#include "client/open_url.h"
#include "client/resource.h"
#include "client/web_site.h"
#include "framework/app.h"

CKestrelDlg::CKestrelDlg()
    : CDialog(IDD_KESTREL_DIALOG),
      m_icon(LoadIconA(GetResourceInstance(), MAKEINTRESOURCEA(IDI_KESTREL)))
{
}

void CKestrelDlg::DoDataExchange(CDataExchange& dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_PAGE_TAB, m_tabCtrl);
}

bool CKestrelDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    if (HMENU systemMenu = GetSystemMenu(GetSafeHwnd(), FALSE)) {
        const std::string about = LoadResourceString(IDS_ABOUTBOX);
        if (!about.empty()) {
            AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));

    m_menu.Reset(LoadMenuA(GetResourceInstance(), MAKEINTRESOURCEA(IDR_MAINMENU)));
    SetMenu(GetSafeHwnd(), m_menu.Get());

    m_tabCtrl.InitPages();

    const std::string caption =
        LoadResourceString(IDS_PRODUCT_NAME) + " " + LoadResourceString(IDS_VERSION);
    SetWindowTextA(GetSafeHwnd(), caption.c_str());
    return true;
}

bool CKestrelDlg::PreTranslateMessage(MSG* msg)
{
    // Escape must never cancel the main window.
    if (IsEscapeKeyMessage(*msg))
        return true;
    return CDialog::PreTranslateMessage(msg);
}

bool CKestrelDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    switch (msg) {
    case WM_SYSCOMMAND:
        if (OnSysCommand(static_cast<UINT>(wParam))) {
            *result = 0;
            return true;
        }
        return false;
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        *result = reinterpret_cast<LRESULT>(m_icon);
        return true;
    case WM_DESTROY:
        // The menu object destroys the menu; the window must not do it as well.
        SetMenu(GetSafeHwnd(), nullptr);
        return false;
    default:
        return CDialog::OnMessage(msg, wParam, lParam, result);
    }
}

bool CKestrelDlg::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case ID_VIEW_HOME:
        m_tabCtrl.ShowPage(PAGE_HOME);
        return true;
    case ID_VIEW_STATUS:
        m_tabCtrl.ShowPage(PAGE_STATUS);
        return true;
    case ID_VIEW_PROGRAMS:
        m_tabCtrl.ShowPage(PAGE_PROGRAMS);
        return true;
    case ID_VIEW_SERVER:
        m_tabCtrl.ShowPage(PAGE_SERVER);
        return true;
    case IDM_ABOUTBOX:
        ShowAboutBox();
        return true;
    case ID_HELP_ONLINE:
        OpenUrlWithExplorer(KESTREL_FORUM_URL);
        return true;
    case ID_APP_EXIT:
        OnOK();
        return true;
    default:
        return CDialog::OnCommand(id, code, control);
    }
}

bool CKestrelDlg::OnSysCommand(UINT command)
{
    // The low four bits of a system command are the system's own.
    if ((command & 0xFFF0) != IDM_ABOUTBOX)
        return false;
    ShowAboutBox();
    return true;
}

void CKestrelDlg::ShowAboutBox()
{
    CAboutDlg about;
    about.DoModal(GetSafeHwnd());
}

bool CKestrelDlg::OnPaint()
{
    if (!IsIconic(GetSafeHwnd()))
        return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(GetSafeHwnd(), &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(GetSafeHwnd(), &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_icon);
    EndPaint(GetSafeHwnd(), &paint);
    return true;
}
