// client/status_page.h
#pragma once

#include "controls/link_label.h"
#include "framework/dialog.h"
#include "framework/gui_handles.h"

// The page that switches proxying on and off: two radio buttons bound to the
// setting "Enable", and a link to the product web site.
class CStatusPage : public CDialog {
public:
    CStatusPage();
    bool PreTranslateMessage(MSG* msg) override;

protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;

private:
    // Writes the buttons' state and tells the proxying component.
    void SaveEnable();
    void SetHandCursor();

    CWnd m_onButton;
    CWnd m_offButton;
    CLinkLabel m_link;
    // Handed to the link; not destroyed by the page unless it is the copy below.
    HCURSOR m_handCursor = nullptr;
    // The hand taken from the help program when the system has none, copied
    // because the library it came from is released at once.
    UniqueCursor m_fallbackCursor;
};
