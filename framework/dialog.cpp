// framework/dialog.cpp
#include "framework/dialog.h"

#include <algorithm>
#include <vector>

namespace {
HINSTANCE g_resourceInstance = nullptr;
// A table string counts its UTF-16 units in 16 bits; each becomes at most
// two ANSI bytes.
constexpr int kMaxResourceStringBytes = 2 * 65536;

// Messages whose dialog procedure result is the value itself rather than
// TRUE/FALSE with the value in DWLP_MSGRESULT.
bool ReturnsValueDirectly(UINT msg)
{
    switch (msg) {
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
        return true;
    default:
        return false;
    }
}
}  // namespace

HINSTANCE GetResourceInstance()
{
    return g_resourceInstance ? g_resourceInstance : GetModuleHandleA(nullptr);
}

void SetResourceInstance(HINSTANCE instance)
{
    g_resourceInstance = instance;
}

std::string LoadResourceString(UINT id)
{
    // LoadStringA cannot say how long a string is: a result that (nearly)
    // fills the buffer may have been cut, a double-byte character short of
    // the end, so it is read again with more room.
    std::vector<char> text(256);
    for (;;) {
        const int size = static_cast<int>(text.size());
        const int got = LoadStringA(GetResourceInstance(), id, text.data(), size);
        if (got <= 0)
            return std::string();
        if (got < size - 2 || size >= kMaxResourceStringBytes)
            return std::string(text.data(), static_cast<std::size_t>(got));
        text.resize(text.size() * 2);
    }
}

CDialog::CDialog(UINT templateId) : m_templateId(templateId) {}

CDialog::~CDialog()
{
    // Detach first: the window's last messages must not reach a half-destroyed object.
    if (HWND hwnd = GetSafeHwnd()) {
        Detach();
        DestroyWindow(hwnd);
    }
}

HWND CDialog::CreateFromTemplate(HWND parent)
{
    return CreateDialogParamA(GetResourceInstance(), MAKEINTRESOURCEA(m_templateId), parent,
                              &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

bool CDialog::Create(HWND parent)
{
    if (GetSafeHwnd())
        return false;
    m_modal = false;
    HWND hwnd = CreateFromTemplate(parent);
    if (!hwnd)
        return false;
    if (GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_CHILD)
        SetWindowLongPtrA(hwnd, GWLP_ID, static_cast<LONG_PTR>(m_templateId));
    return true;
}

INT_PTR CDialog::DoModal(HWND owner)
{
    if (GetSafeHwnd())
        return -1;
    m_modal = true;
    m_endRequested = false;
    m_endCode = IDCANCEL;
    HWND hwnd = CreateFromTemplate(owner);
    if (!hwnd) {
        m_modal = false;
        return -1;
    }
    const bool disableOwner = owner && IsWindowEnabled(owner);
    if (disableOwner)
        EnableWindow(owner, FALSE);
    if (!m_endRequested)
        ::ShowWindow(hwnd, SW_SHOWNORMAL);

    bool quit = false;
    WPARAM quitCode = 0;
    MSG msg;
    while (!m_endRequested) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            quit = true;
            quitCode = msg.wParam;
            break;
        }
        if (got == -1) {
            m_endCode = -1;
            break;
        }
        PumpMessage(msg);
    }

    // The owner is enabled before the dialog goes, so that activation returns to it.
    if (disableOwner)
        EnableWindow(owner, TRUE);
    if (IsWindow(hwnd))
        DestroyWindow(hwnd);
    m_modal = false;
    if (quit) {
        PostQuitMessage(static_cast<int>(quitCode));
        return -1;
    }
    return m_endCode;
}

void CDialog::PumpMessage(MSG& msg)
{
    if (WalkPreTranslate(msg, GetSafeHwnd()))
        return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

void CDialog::EndDialog(INT_PTR code)
{
    if (!m_modal)
        return;
    m_endRequested = true;
    m_endCode = code;
    // Wakes the loop when it is waiting for a message.
    if (HWND hwnd = GetSafeHwnd())
        PostMessageA(hwnd, WM_NULL, 0, 0);
}

void CDialog::CenterWindow()
{
    const HWND hwnd = GetSafeHwnd();
    if (!hwnd)
        return;
    const HWND owner = GetWindow(hwnd, GW_OWNER);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoA(MonitorFromWindow(owner ? owner : hwnd, MONITOR_DEFAULTTONEAREST),
                         &monitor))
        return;
    const RECT area = monitor.rcWork;
    RECT around = area;
    if (owner && IsWindowVisible(owner) && !IsIconic(owner))
        GetWindowRect(owner, &around);

    RECT window = {};
    GetWindowRect(hwnd, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    int x = around.left + ((around.right - around.left) - width) / 2;
    int y = around.top + ((around.bottom - around.top) - height) / 2;
    // Kept on the work area, its top-left corner first.
    x = std::max(static_cast<int>(area.left), std::min(x, static_cast<int>(area.right) - width));
    y = std::max(static_cast<int>(area.top), std::min(y, static_cast<int>(area.bottom) - height));
    SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CDialog::UpdateData(bool saveAndValidate)
{
    if (!GetSafeHwnd())
        return false;
    CDataExchange dx(GetSafeHwnd(), saveAndValidate);
    DoDataExchange(dx);
    return !dx.Failed();
}

bool CDialog::PreTranslateMessage(MSG* msg)
{
    const HWND self = GetSafeHwnd();
    if (!self || msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST)
        return false;
    if (msg->hwnd != self && !IsChild(self, msg->hwnd))
        return false;
    return IsDialogMessageA(self, msg) != FALSE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CDialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        self->Attach(hwnd);
    } else {
        self = static_cast<CDialog*>(FromHandle(hwnd));
    }
    // Messages that come before WM_INITDIALOG (WM_SETFONT) have no object yet.
    if (!self)
        return FALSE;

    LRESULT result = 0;
    const bool handled = self->DispatchGuarded(msg, wParam, lParam, &result);
    if (msg == WM_NCDESTROY) {
        // Destroyed from outside while running modally: the loop must not wait on.
        if (self->m_modal)
            self->m_endRequested = true;
        self->Detach();
        self->PostNcDestroy();
    }
    if (!handled)
        return FALSE;
    if (ReturnsValueDirectly(msg))
        return static_cast<INT_PTR>(result);
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

bool CDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    switch (msg) {
    case WM_INITDIALOG: {
        RECT before = {};
        GetWindowRect(GetSafeHwnd(), &before);
        *result = OnInitDialog() ? TRUE : FALSE;
        // A window that its initialisation neither placed nor showed opens
        // centred, not in the corner the template's origin gives it.
        RECT after = {};
        GetWindowRect(GetSafeHwnd(), &after);
        const LONG_PTR style = GetWindowLongPtrA(GetSafeHwnd(), GWL_STYLE);
        if (!(style & (WS_CHILD | WS_VISIBLE)) && EqualRect(&before, &after))
            CenterWindow();
        return true;
    }
    default:
        return CWnd::OnMessage(msg, wParam, lParam, result);
    }
}

bool CDialog::OnCommand(int id, int, HWND)
{
    switch (id) {
    case IDOK:
        OnOK();
        return true;
    case IDCANCEL:
        OnCancel();
        return true;
    default:
        return false;
    }
}

bool CDialog::OnInitDialog()
{
    UpdateData(false);
    return true;
}

void CDialog::DoDataExchange(CDataExchange&) {}

void CDialog::OnOK()
{
    if (m_modal && UpdateData(true))
        EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    if (m_modal)
        EndDialog(IDCANCEL);
}
