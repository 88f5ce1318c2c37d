// client/web_browser.h
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "framework/com_ptr.h"
#include "framework/wnd.h"

// The platform's WebBrowser control, hosted in a child window of the
// system's ActiveX host window class.
class CWebBrowser2 : public CWnd {
public:
    // Creates the control in parent as control id; false when the platform
    // has no host window class or no WebBrowser control (or OLE cannot start).
    bool Create(const char* windowName, DWORD style, const RECT& rect, HWND parent, UINT id);

    // The control's automation method Navigate (dispatch id 104). The four
    // optional arguments go as variant references; null ones as empty
    // variants. The result is not reported.
    void Navigate(const char* url, VARIANT* flags = nullptr, VARIANT* targetFrameName = nullptr,
                  VARIANT* postData = nullptr, VARIANT* headers = nullptr);

    // The hosted control itself; empty when there is none.
    ComPtr<IUnknown> GetControlUnknown() const;
};

// The class id of the WebBrowser control, in the form the host window takes.
extern const char kWebBrowserClassId[];
