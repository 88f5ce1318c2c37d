// controls/link_label.cpp
#include "controls/link_label.h"

#include <shellapi.h>

namespace {
LOGFONTA DefaultGuiFontDescription()
{
    LOGFONTA description = {};
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof description, &description);
    return description;
}
}  // namespace

CLinkLabel::CLinkLabel()
    : m_textColor(GetSysColor(COLOR_WINDOWTEXT)),
      m_backgroundBrush(CreateSolidBrush(GetSysColor(COLOR_BTNFACE))),
      m_fontDescription(DefaultGuiFontDescription()),
      m_font(CreateFontIndirectA(&m_fontDescription))
{
}

CLinkLabel::~CLinkLabel()
{
    // The control outlives the label by a moment; it must not keep drawing
    // with a font that is about to be deleted.
    if (GetSafeHwnd() && m_font && reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)) == m_font.Get())
        SendMessage(WM_SETFONT, 0, FALSE);
}

CLinkLabel& CLinkLabel::SetLink(bool isLink)
{
    m_isLink = isLink ? TRUE : FALSE;
    if (HWND hwnd = GetSafeHwnd()) {
        LONG_PTR style = GetWindowLongPtrA(hwnd, GWL_STYLE);
        style = isLink ? (style | SS_NOTIFY) : (style & ~static_cast<LONG_PTR>(SS_NOTIFY));
        SetWindowLongPtrA(hwnd, GWL_STYLE, style);
    }
    return *this;
}

CLinkLabel& CLinkLabel::SetTextColor(COLORREF color)
{
    m_textColor = color;
    Redraw();
    return *this;
}

CLinkLabel& CLinkLabel::SetFontUnderline(bool underline)
{
    m_fontDescription.lfUnderline = underline ? TRUE : FALSE;
    m_font.Reset();
    m_font.Reset(CreateFontIndirectA(&m_fontDescription));
    Redraw();
    return *this;
}

CLinkLabel& CLinkLabel::SetLinkCursor(HCURSOR cursor)
{
    m_cursor = cursor;
    return *this;
}

void CLinkLabel::SetLinkUrl(const std::string& url)
{
    m_linkUrl = url;
}

void CLinkLabel::Redraw()
{
    if (HWND hwnd = GetSafeHwnd())
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

bool CLinkLabel::OnChildNotify(UINT msg, WPARAM wParam, LPARAM, LRESULT* result)
{
    switch (msg) {
    case WM_CTLCOLORSTATIC: {
        const HDC dc = reinterpret_cast<HDC>(wParam);
        if (m_font) {
            // The static control selects its own font after asking for
            // colours: made its own font as well, ours is the one drawn.
            SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(m_font.Get()), FALSE);
            SelectObject(dc, m_font.Get());
        }
        ::SetTextColor(dc, m_textColor);
        SetBkMode(dc, TRANSPARENT);
        *result = reinterpret_cast<LRESULT>(m_backgroundBrush.Get());
        return true;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
        *result = reinterpret_cast<LRESULT>(m_backgroundBrush.Get());
        return true;
    default:
        return false;
    }
}

bool CLinkLabel::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    switch (msg) {
    case WM_LBUTTONDOWN:
        if (!m_linkUrl.empty())
            ShellExecuteA(nullptr, "open", m_linkUrl.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        // The control still sees the press (its click notification).
        return false;
    case WM_SETCURSOR:
        if (!m_cursor)
            return false;
        SetCursor(m_cursor);
        *result = TRUE;
        return true;
    case WM_CREATE:
        *result = CallPreviousProc(msg, wParam, lParam) == -1 ? -1 : 0;
        return true;
    default:
        return CWnd::OnMessage(msg, wParam, lParam, result);
    }
}
