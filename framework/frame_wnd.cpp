// framework/frame_wnd.cpp
#include "framework/frame_wnd.h"

#include "framework/app.h"

namespace {
// Nobody looks for this class: frame windows are found by title if at all.
const char kFrameClass[] = "Kestrel.Frame";

bool RegisterFrameClass(HINSTANCE instance, WNDPROC proc)
{
    WNDCLASSA existing = {};
    if (GetClassInfoA(instance, kFrameClass, &existing))
        return true;
    WNDCLASSA frameClass = {};
    frameClass.lpfnWndProc = proc;
    frameClass.hInstance = instance;
    frameClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    frameClass.lpszClassName = kFrameClass;
    return RegisterClassA(&frameClass) != 0;
}
}  // namespace

CFrameWnd::~CFrameWnd()
{
    // Detached first: the window's last messages must not reach a half-destroyed object.
    if (HWND hwnd = GetSafeHwnd()) {
        Detach();
        DestroyWindow(hwnd);
    }
}

bool CFrameWnd::Create(const char* title, DWORD style)
{
    if (GetSafeHwnd())
        return false;
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!RegisterFrameClass(instance, &CFrameWnd::WindowProc))
        return false;
    return CreateWindowExA(0, kFrameClass, title, style, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance,
                           this) != nullptr;
}

LRESULT CALLBACK CFrameWnd::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CFrameWnd* self = nullptr;
    if (msg == WM_NCCREATE) {
        self = static_cast<CFrameWnd*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->Attach(hwnd);
    } else {
        self = static_cast<CFrameWnd*>(FromHandle(hwnd));
    }
    // Messages before WM_NCCREATE (WM_GETMINMAXINFO) have no object yet.
    if (!self)
        return DefWindowProcA(hwnd, msg, wParam, lParam);

    LRESULT result = 0;
    if (!self->DispatchGuarded(msg, wParam, lParam, &result))
        result = DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        self->Detach();
        CWinApp* app = CWinApp::Get();
        if (app && app->MainWnd() == self) {
            app->SetMainWnd(nullptr);
            PostQuitMessage(0);
        }
        self->PostNcDestroy();
    }
    return result;
}

bool CFrameWnd::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    switch (msg) {
    case WM_CREATE:
        *result = OnCreate(reinterpret_cast<CREATESTRUCTA*>(lParam));
        return true;
    case WM_CLOSE:
        OnClose();
        *result = 0;
        return true;
    case WM_DESTROY:
        OnDestroy();
        return false;
    case WM_TIMER:
        // A timer with a callback is the system's to call.
        if (lParam != 0)
            return false;
        if (OnTimer(static_cast<UINT_PTR>(wParam))) {
            *result = 0;
            return true;
        }
        return false;
    default:
        return CWnd::OnMessage(msg, wParam, lParam, result);
    }
}

int CFrameWnd::OnCreate(CREATESTRUCTA*)
{
    return 0;
}

void CFrameWnd::OnClose()
{
    DestroyWindow(GetSafeHwnd());
}

bool CFrameWnd::OnTimer(UINT_PTR)
{
    return false;
}
