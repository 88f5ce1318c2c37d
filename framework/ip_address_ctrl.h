// framework/ip_address_ctrl.h
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/wnd.h"

// The common controls' IPv4 address field, bound by DDX_Control.
class CIPAddressCtrl : public CWnd {
public:
    // The four fields, first field first; a blank field gives 0.
    void GetAddress(BYTE& f0, BYTE& f1, BYTE& f2, BYTE& f3) const
    {
        DWORD address = 0;
        SendMessage(IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
        f0 = FIRST_IPADDRESS(address);
        f1 = SECOND_IPADDRESS(address);
        f2 = THIRD_IPADDRESS(address);
        f3 = FOURTH_IPADDRESS(address);
    }
    void SetAddress(BYTE f0, BYTE f1, BYTE f2, BYTE f3) const
    {
        SendMessage(IPM_SETADDRESS, 0, static_cast<LPARAM>(MAKEIPADDRESS(f0, f1, f2, f3)));
    }
};
