// client/home_page.cpp
#include "client/home_page.h"

#include <string>

#include "client/resource.h"
#include "client/web_site.h"

namespace {

// Where the template places the browser, in dialog units.
const RECT kBrowserTemplateRect = {2, 2, 2 + 256, 2 + 139};
const DWORD kBrowserStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP;

// The platform's HTML document object; MinGW's import libraries lack it.
const CLSID kHtmlDocumentClassId = {
    0x25336920, 0x03F9, 0x11CF, {0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13}};

}  // namespace

bool HtmlEngineAvailable()
{
    ComPtr<IUnknown> document;
    return SUCCEEDED(CoCreateInstance(kHtmlDocumentClassId, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IUnknown, reinterpret_cast<void**>(document.Out())));
}

CHomePage::CHomePage() : CDialog(IDD_HOME_PAGE) {}

CHomePage::~CHomePage() = default;

void CHomePage::DoDataExchange(CDataExchange& dx)
{
    // The browser is created in code, where the template cannot create an
    // ActiveX control; once there, it is bound like any control.
    if (m_browser.GetSafeHwnd())
        DDX_Control(dx, IDC_BROWSER, m_browser);
}

bool CHomePage::OnInitDialog()
{
    RECT place = kBrowserTemplateRect;
    MapDialogRect(GetSafeHwnd(), &place);
    const bool created =
        m_browser.Create("", kBrowserStyle, place, GetSafeHwnd(), IDC_BROWSER);

    CDialog::OnInitDialog();

    RECT area = {};
    GetClientRect(GetSafeHwnd(), &area);
    InflateRect(&area, -2, -2);
    if (created) {
        m_browser.Navigate(KESTREL_CLIENT_PAGE_URL);
        MoveWindow(m_browser.GetSafeHwnd(), area.left, area.top, area.right - area.left,
                   area.bottom - area.top, TRUE);
        HWND browser = m_browser.GetSafeHwnd();
        SetWindowLongPtrA(browser, GWL_STYLE, GetWindowLongPtrA(browser, GWL_STYLE) & ~WS_BORDER);
    }
    if (!created || !HtmlEngineAvailable()) {
        if (created)
            ::ShowWindow(m_browser.GetSafeHwnd(), SW_HIDE);
        ShowFallback(area);
    }
    return true;
}

void CHomePage::ShowFallback(const RECT& area)
{
    const HFONT pageFont = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
    RECT line = {8, 8, 0, 0};
    MapDialogRect(GetSafeHwnd(), &line);
    const int margin = line.left;
    const int lineHeight = line.top;
    const int width = (area.right - area.left) - 2 * margin;

    const std::string note = LoadResourceString(IDS_HOME_UNAVAILABLE);
    m_fallbackText = CreateWindowExA(0, "STATIC", note.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT,
                                     area.left + margin, area.top + margin, width, 3 * lineHeight,
                                     GetSafeHwnd(), nullptr, GetModuleHandleA(nullptr), nullptr);
    if (m_fallbackText)
        ::SendMessageA(m_fallbackText, WM_SETFONT, reinterpret_cast<WPARAM>(pageFont), FALSE);

    HWND link = CreateWindowExA(0, "STATIC", KESTREL_CLIENT_PAGE_URL,
                                WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOTIFY, area.left + margin,
                                area.top + margin + 4 * lineHeight, width, 2 * lineHeight,
                                GetSafeHwnd(), nullptr, GetModuleHandleA(nullptr), nullptr);
    if (link && m_fallbackLink.SubclassWindow(link)) {
        // Looks and acts as the status page's link does.
        m_fallbackLink.SetLink(true).SetTextColor(RGB(50, 50, 255)).SetFontUnderline(true);
        m_fallbackLink.SetLinkUrl(KESTREL_CLIENT_PAGE_URL);
        m_fallbackLink.SetLinkCursor(LoadCursorA(nullptr, IDC_HAND));
    }
}
