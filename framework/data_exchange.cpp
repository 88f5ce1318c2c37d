// framework/data_exchange.cpp
#include "framework/data_exchange.h"

#include "framework/wnd.h"

HWND CDataExchange::PrepareControl(int id)
{
    m_lastControl = GetDlgItem(m_dialog, id);
    return m_lastControl;
}

void CDataExchange::Fail()
{
    m_failed = true;
    if (!m_lastControl)
        return;
    SetFocus(m_lastControl);
    char className[16] = {};
    GetClassNameA(m_lastControl, className, sizeof className);
    if (lstrcmpiA(className, "Edit") == 0)
        SendMessageA(m_lastControl, EM_SETSEL, 0, -1);
}

void DDX_Control(CDataExchange& dx, int id, CWnd& object)
{
    if (dx.Failed() || object.GetSafeHwnd())
        return;
    HWND control = dx.PrepareControl(id);
    if (!control || !object.SubclassWindow(control))
        dx.Fail();
}
