// client/kestrel_dlg.h
#pragma once

#include "client/page_tab_ctrl.h"
#include "framework/dialog.h"
#include "framework/gui_handles.h"

// The main window: a tab control with the four pages, a menu bar and an
// About entry in the system menu. Exit ends it with IDOK, closing with IDCANCEL.
class CKestrelDlg : public CDialog {
public:
    CKestrelDlg();
    bool PreTranslateMessage(MSG* msg) override;

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    bool OnSysCommand(UINT command);
    bool OnPaint();
    void ShowAboutBox();

    CPageTabCtrl m_tabCtrl;
    HICON m_icon;  // shared resource icon: never destroyed
    UniqueMenu m_menu;
};
