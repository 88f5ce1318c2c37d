// client/page_tab_ctrl.cpp
#include "client/page_tab_ctrl.h"

#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "client/resource.h"

namespace {
// Tab items in strip order, with the page each one shows.
struct TabItem {
    UINT label;
    int page;
};
constexpr TabItem kTabs[] = {
    {IDS_TAB_HOME, PAGE_HOME},
    {IDS_TAB_STATUS, PAGE_STATUS},
    {IDS_TAB_PROGRAMS, PAGE_PROGRAMS},
    {IDS_TAB_SERVER, PAGE_SERVER},
};
constexpr int kProgramsTab = 2;
}  // namespace

void CPageTabCtrl::InitPages()
{
    for (int i = 0; i < static_cast<int>(sizeof kTabs / sizeof kTabs[0]); ++i) {
        std::string label = LoadResourceString(kTabs[i].label);
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = label.data();
        SendMessage(TCM_INSERTITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    }
    CreatePages();
    LayoutPages();
    ShowPage(PAGE_HOME);
}

void CPageTabCtrl::CreatePages()
{
    m_programListPage.Create(GetSafeHwnd());
    m_statusPage.Create(GetSafeHwnd());
    m_serverPage.Create(GetSafeHwnd());
    m_homePage.Create(GetSafeHwnd());
}

void CPageTabCtrl::LayoutPages()
{
    RECT item = {};
    SendMessage(TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
    RECT client = {};
    GetClientRect(GetSafeHwnd(), &client);

    int x = 1;
    int y = (item.bottom - item.top) + 5;
    if (GetWindowLongPtrA(GetSafeHwnd(), GWL_STYLE) & TCS_VERTICAL) {
        x = (item.right - item.left) + 5;
        y = 1;
    }
    const int width = (client.right - client.left) - 5 - x;
    const int height = (client.bottom - client.top) - 5 - y;

    CDialog* pages[] = {&m_programListPage, &m_statusPage, &m_serverPage, &m_homePage};
    for (CDialog* page : pages) {
        if (HWND hwnd = page->GetSafeHwnd())
            MoveWindow(hwnd, x, y, width, height, TRUE);
    }
}

CDialog* CPageTabCtrl::PageOf(int code)
{
    switch (code) {
    case PAGE_STATUS:
        return &m_statusPage;
    case PAGE_PROGRAMS:
        return &m_programListPage;
    case PAGE_SERVER:
        return &m_serverPage;
    case PAGE_HOME:
        return &m_homePage;
    default:
        return nullptr;
    }
}

void CPageTabCtrl::ShowPage(int code)
{
    CDialog* shown = PageOf(code);
    if (!shown)
        return;
    for (int other = PAGE_STATUS; other <= PAGE_HOME; ++other) {
        CDialog* page = PageOf(other);
        if (page != shown && page->GetSafeHwnd())
            page->ShowWindow(SW_HIDE);
    }
    if (shown->GetSafeHwnd())
        shown->ShowWindow(SW_SHOW);
}

bool CPageTabCtrl::OnChildNotify(UINT msg, WPARAM, LPARAM lParam, LRESULT* result)
{
    if (msg != WM_NOTIFY || reinterpret_cast<NMHDR*>(lParam)->code != static_cast<UINT>(NM_CLICK))
        return false;
    const int selected = static_cast<int>(SendMessage(TCM_GETCURSEL));
    if (selected >= 0 && selected < static_cast<int>(sizeof kTabs / sizeof kTabs[0])) {
        // Dropping files is offered only while the program list is in front.
        DragAcceptFiles(GetSafeHwnd(), selected == kProgramsTab ? TRUE : FALSE);
        ShowPage(kTabs[selected].page);
    }
    *result = 0;
    return true;
}

bool CPageTabCtrl::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    switch (msg) {
    case WM_DROPFILES:
        // Files dropped on the tab strip itself are not taken (the program
        // list page takes its own), but the drop's memory is ours to release.
        DragFinish(reinterpret_cast<HDROP>(wParam));
        *result = 0;
        return true;
    default:
        return CWnd::OnMessage(msg, wParam, lParam, result);
    }
}
