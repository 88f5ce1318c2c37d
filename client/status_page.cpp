// client/status_page.cpp
#include "client/status_page.h"

#include <string>

#include "client/resource.h"
#include "common/config_notify.h"
#include "common/module_dir.h"
#include "store/config_db.h"

namespace {
const char kEnableKey[] = "Enable";
const COLORREF kLinkColor = RGB(50, 50, 255);
// The hand cursor in the Windows help program, for systems without IDC_HAND.
const WORD kHelpProgramHandCursor = 106;
}  // namespace

CStatusPage::CStatusPage() : CDialog(IDD_STATUS_PAGE) {}

void CStatusPage::DoDataExchange(CDataExchange& dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_ENABLE_ON, m_onButton);
    DDX_Control(dx, IDC_ENABLE_OFF, m_offButton);
    DDX_Control(dx, IDC_WEB_LINK, m_link);
}

bool CStatusPage::OnInitDialog()
{
    CDialog::OnInitDialog();

    CConfigDb db;
    db.SetDbPath(GetClientDbPath());
    std::string value;
    // Only the exact text "1" means on; anything else, or no row, is off.
    const bool on = db.GetSetting(kEnableKey, value) && value == "1";
    CheckButton(on ? IDC_ENABLE_ON : IDC_ENABLE_OFF);

    SetHandCursor();
    m_link.SetLink(true).SetTextColor(kLinkColor).SetFontUnderline(true);
    m_link.SetLinkUrl(LoadResourceString(IDS_WEB_SITE));
    m_link.SetLinkCursor(m_handCursor);
    return true;
}

bool CStatusPage::OnCommand(int id, int code, HWND control)
{
    // Every click writes, also one on the button already checked.
    if ((id == IDC_ENABLE_ON || id == IDC_ENABLE_OFF) && code == BN_CLICKED) {
        SaveEnable();
        return true;
    }
    return CDialog::OnCommand(id, code, control);
}

void CStatusPage::SaveEnable()
{
    CConfigDb db;
    db.SetDbPath(GetClientDbPath());
    // Automatic radio buttons are already checked when the click arrives.
    db.SetSetting(kEnableKey, IsButtonChecked(IDC_ENABLE_ON) ? "1" : "0");
    // Also after a failed write: the component re-reads what is there.
    NotifyConfigChanged();
}

void CStatusPage::SetHandCursor()
{
    if (m_handCursor)
        return;
    m_handCursor = LoadCursorA(nullptr, IDC_HAND);
    if (m_handCursor)
        return;

    char windowsDir[MAX_PATH] = {};
    GetWindowsDirectoryA(windowsDir, sizeof windowsDir);
    const std::string helpProgram = std::string(windowsDir) + "\\winhlp32.exe";
    UniqueHandle<HMODULE, FreeLibrary> library(LoadLibraryA(helpProgram.c_str()));
    if (!library)
        return;
    if (HCURSOR cursor = LoadCursorA(library.Get(), MAKEINTRESOURCEA(kHelpProgramHandCursor))) {
        m_fallbackCursor.Reset(CopyCursor(cursor));
        m_handCursor = m_fallbackCursor.Get();
    }
}

bool CStatusPage::PreTranslateMessage(MSG* msg)
{
    if (IsEscapeKeyMessage(*msg))
        return true;
    return CDialog::PreTranslateMessage(msg);
}
