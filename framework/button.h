// framework/button.h
#pragma once

#include <windows.h>

#include "framework/wnd.h"

// A push button, check box or radio button of a dialog, bound by DDX_Control.
class CButton : public CWnd {
public:
    bool IsChecked() const { return SendMessage(BM_GETCHECK) == BST_CHECKED; }
    void SetCheck(bool checked) const
    {
        SendMessage(BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    void Enable(bool enable) const { EnableWindow(GetSafeHwnd(), enable ? TRUE : FALSE); }
};
