// client/server_page.h
#pragma once

#include "framework/dialog.h"

// The page that sets and tests the proxy server.
class CServerPage : public CDialog {
public:
    CServerPage();
    bool PreTranslateMessage(MSG* msg) override;
};
