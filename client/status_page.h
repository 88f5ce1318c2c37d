// client/status_page.h
#pragma once

#include "framework/dialog.h"

// The page that switches proxying on and off.
class CStatusPage : public CDialog {
public:
    CStatusPage();
    bool PreTranslateMessage(MSG* msg) override;
};
