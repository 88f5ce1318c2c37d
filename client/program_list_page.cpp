// client/program_list_page.cpp
#include "client/program_list_page.h"

#include "client/resource.h"

CProgramListPage::CProgramListPage() : CDialog(IDD_PROGRAM_LIST_PAGE) {}

bool CProgramListPage::PreTranslateMessage(MSG* msg)
{
    if (IsEscapeKeyMessage(*msg))
        return true;
    return CDialog::PreTranslateMessage(msg);
}
