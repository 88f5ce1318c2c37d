// client/page_tab_ctrl.h
#pragma once

#include "client/home_page.h"
#include "client/program_list_page.h"
#include "client/server_page.h"
#include "client/status_page.h"
#include "framework/wnd.h"

// Page codes of ShowPage. They do not follow the order of the tabs.
enum PageCode {
    PAGE_STATUS = 0,
    PAGE_PROGRAMS = 1,
    PAGE_SERVER = 2,
    PAGE_HOME = 3,
};

// The main window's tab control. It owns the four pages, creates them as its
// own child windows and shows one at a time.
class CPageTabCtrl : public CWnd {
public:
    // Tabs, then pages; the home page is shown and its tab selected.
    void InitPages();
    void CreatePages();
    void LayoutPages();
    // Shows the page of code and hides the others; the tab strip's selection
    // is left as it is. Unknown codes do nothing.
    void ShowPage(int code);

    bool OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

private:
    CDialog* PageOf(int code);

    // Creation order is field order.
    CProgramListPage m_programListPage;
    CStatusPage m_statusPage;
    CServerPage m_serverPage;
    CHomePage m_homePage;
};
