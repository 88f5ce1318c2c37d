// client/server_page.cpp
#include "client/server_page.h"

#include "client/resource.h"

CServerPage::CServerPage() : CDialog(IDD_SERVER_PAGE) {}

bool CServerPage::PreTranslateMessage(MSG* msg)
{
    if (IsEscapeKeyMessage(*msg))
        return true;
    return CDialog::PreTranslateMessage(msg);
}
