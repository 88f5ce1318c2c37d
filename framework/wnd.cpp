// framework/wnd.cpp
#include "framework/wnd.h"

#include "framework/tool_tip_relay.h"

namespace {
// A window property rather than GWLP_USERDATA: the standard controls we
// subclass may use their user data themselves, and one lookup serves every
// kind of window.
const char kObjectProperty[] = "Kestrel.Object";
}  // namespace

CWnd::CWnd() = default;

CWnd::~CWnd()
{
    if (m_hWnd && m_previousProc) {
        SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previousProc));
        m_previousProc = nullptr;
    }
    Detach();
}

CWnd* CWnd::FromHandle(HWND hwnd)
{
    if (!hwnd)
        return nullptr;
    return static_cast<CWnd*>(GetPropA(hwnd, kObjectProperty));
}

void CWnd::Attach(HWND hwnd)
{
    m_hWnd = hwnd;
    SetPropA(hwnd, kObjectProperty, this);
}

void CWnd::Detach()
{
    m_toolTips.reset();
    if (m_hWnd) {
        if (GetPropA(m_hWnd, kObjectProperty) == this)
            RemovePropA(m_hWnd, kObjectProperty);
        m_hWnd = nullptr;
    }
}

bool CWnd::SubclassDlgItem(int id, HWND parent)
{
    return SubclassWindow(::GetDlgItem(parent, id));
}

bool CWnd::SubclassWindow(HWND hwnd)
{
    if (!hwnd || m_hWnd || FromHandle(hwnd))
        return false;
    Attach(hwnd);
    m_previousProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
    if (!m_previousProc) {
        Detach();
        return false;
    }
    return true;
}

LRESULT CWnd::CallPreviousProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcA(m_previousProc, m_hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK CWnd::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CWnd* self = FromHandle(hwnd);
    if (!self || !self->m_previousProc)
        return DefWindowProcA(hwnd, msg, wParam, lParam);

    LRESULT result = 0;
    if (!self->DispatchGuarded(msg, wParam, lParam, &result))
        result = self->CallPreviousProc(msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(self->m_previousProc));
        self->m_previousProc = nullptr;
        self->Detach();
        self->PostNcDestroy();
    }
    return result;
}

bool CWnd::DispatchGuarded(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) noexcept
{
    // No exception may unwind through the system's code: a handler that
    // throws counts as not having handled the message.
    try {
        return OnMessage(msg, wParam, lParam, result);
    } catch (...) {
        return false;
    }
}

bool CWnd::PreTranslateMessage(MSG*)
{
    return false;
}

bool CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*)
{
    return false;
}

bool CWnd::RouteToChild(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    HWND child = nullptr;
    switch (msg) {
    case WM_COMMAND:
        child = reinterpret_cast<HWND>(lParam);
        break;
    case WM_NOTIFY:
        child = reinterpret_cast<NMHDR*>(lParam)->hwndFrom;
        break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
        child = reinterpret_cast<HWND>(lParam);
        break;
    default:
        return false;
    }
    CWnd* object = FromHandle(child);
    return object && object != this && object->OnChildNotify(msg, wParam, lParam, result);
}

bool CWnd::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    if (RouteToChild(msg, wParam, lParam, result))
        return true;
    switch (msg) {
    case WM_COMMAND:
        if (OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam))) {
            *result = 0;
            return true;
        }
        return false;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        return OnNotify(static_cast<int>(header->idFrom), header, result);
    }
    default:
        return false;
    }
}

bool CWnd::OnCommand(int, int, HWND)
{
    return false;
}

bool CWnd::OnNotify(int, NMHDR*, LRESULT*)
{
    return false;
}

bool CWnd::EnableToolTips()
{
    if (!m_hWnd)
        return false;
    if (!m_toolTips)
        m_toolTips = std::make_unique<CToolTipRelay>(m_hWnd);
    return m_toolTips->Valid();
}

INT_PTR CWnd::OnToolHitTest(POINT, TOOLINFOA*) const
{
    return -1;
}

void CWnd::RelayToolTipMessage(const MSG& msg)
{
    if (!m_toolTips || !IsToolTipMouseMessage(msg.message))
        return;
    POINT point = msg.pt;
    ScreenToClient(m_hWnd, &point);
    TOOLINFOA hit = {};
    const INT_PTR id = OnToolHitTest(point, &hit);
    m_toolTips->Relay(msg, id, hit);
}

bool WalkPreTranslate(MSG& msg, HWND last)
{
    for (HWND h = msg.hwnd; h;) {
        CWnd* object = CWnd::FromHandle(h);
        if (object)
            object->RelayToolTipMessage(msg);
        if (object && object->PreTranslateMessage(&msg))
            return true;
        if (h == last || !(GetWindowLongPtrA(h, GWL_STYLE) & WS_CHILD))
            break;
        h = GetParent(h);
    }
    return false;
}

bool IsEscapeKeyMessage(const MSG& msg)
{
    return (msg.message == WM_KEYDOWN || msg.message == WM_KEYUP) && msg.wParam == VK_ESCAPE;
}
