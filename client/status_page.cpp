// client/status_page.cpp
#include "client/status_page.h"

#include "client/resource.h"

CStatusPage::CStatusPage() : CDialog(IDD_STATUS_PAGE) {}

bool CStatusPage::PreTranslateMessage(MSG* msg)
{
    if (IsEscapeKeyMessage(*msg))
        return true;
    return CDialog::PreTranslateMessage(msg);
}
