// client/program_list_page.h
#pragma once

#include "framework/dialog.h"

// The page that says which programs go through the proxy.
class CProgramListPage : public CDialog {
public:
    CProgramListPage();
    bool PreTranslateMessage(MSG* msg) override;
};
