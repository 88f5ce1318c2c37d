// client/web_browser.cpp
#include "client/web_browser.h"

#include <string>

#include "common/ansi_text.h"
#include "framework/app.h"

const char kWebBrowserClassId[] = "{8856F961-340A-11D0-A96B-00C04FD705A2}";

namespace {

const DISPID kDispidNavigate = 104;
const char kHostWindowClass[] = "AtlAxWin";

using AtlAxWinInitProc = BOOL(WINAPI*)();
using AtlAxGetControlProc = HRESULT(WINAPI*)(HWND, IUnknown**);

// The system's control hosting library. It stays loaded for the rest of the
// process: the host windows' procedure lives in it.
HMODULE HostLibrary()
{
    static const HMODULE library = [] {
        HMODULE module = LoadLibraryA("atl.dll");
        auto init = module ? reinterpret_cast<AtlAxWinInitProc>(
                                 reinterpret_cast<void*>(GetProcAddress(module, "AtlAxWinInit")))
                           : nullptr;
        return init && init() ? module : nullptr;
    }();
    return library;
}

}  // namespace

bool CWebBrowser2::Create(const char* windowName, DWORD style, const RECT& rect, HWND parent,
                          UINT id)
{
    (void)windowName;  // the host window's text names the control to create
    if (GetSafeHwnd())
        return false;
    // Without an application object the caller has initialised OLE itself.
    if (CWinApp* app = CWinApp::Get(); app && !app->EnsureOleInitialized())
        return false;
    if (!HostLibrary())
        return false;
    HWND host = CreateWindowExA(0, kHostWindowClass, kWebBrowserClassId, style, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, parent,
                                reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                                GetModuleHandleA(nullptr), nullptr);
    if (!host)
        return false;
    if (!SubclassWindow(host) || !GetControlUnknown()) {
        DestroyWindow(host);
        return false;
    }
    return true;
}

ComPtr<IUnknown> CWebBrowser2::GetControlUnknown() const
{
    ComPtr<IUnknown> control;
    HMODULE library = HostLibrary();
    auto getControl = library ? reinterpret_cast<AtlAxGetControlProc>(reinterpret_cast<void*>(
                                    GetProcAddress(library, "AtlAxGetControl")))
                              : nullptr;
    if (getControl && GetSafeHwnd())
        getControl(GetSafeHwnd(), control.Out());
    return control;
}

void CWebBrowser2::Navigate(const char* url, VARIANT* flags, VARIANT* targetFrameName,
                            VARIANT* postData, VARIANT* headers)
{
    ComPtr<IDispatch> browser = GetControlUnknown().As<IDispatch>(IID_IDispatch);
    if (!browser)
        return;
    BSTR urlText = SysAllocString(WideFromAnsi(url).c_str());
    if (!urlText)
        return;
    VARIANT empty[4];
    VARIANT* optional[4] = {headers, postData, targetFrameName, flags};
    // Arguments go last first.
    VARIANTARG args[5];
    for (int i = 0; i < 4; ++i) {
        VariantInit(&empty[i]);
        VariantInit(&args[i]);
        args[i].vt = VT_BYREF | VT_VARIANT;
        args[i].pvarVal = optional[i] ? optional[i] : &empty[i];
    }
    VariantInit(&args[4]);
    args[4].vt = VT_BSTR;
    args[4].bstrVal = urlText;
    DISPPARAMS params = {args, nullptr, 5, 0};
    browser->Invoke(kDispidNavigate, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                    nullptr, nullptr, nullptr);
    SysFreeString(urlText);
}
