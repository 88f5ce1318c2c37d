// client/home_page.h
#pragma once

#include "client/web_browser.h"
#include "controls/link_label.h"
#include "framework/dialog.h"

// The page that shows the product's client page from the web site. Where the
// platform has no browser control or no HTML engine to show it, the page says
// so and offers the address as a link that opens the system's browser.
class CHomePage : public CDialog {
public:
    CHomePage();
    ~CHomePage() override;

    // Whether the page shows its own note instead of the browser.
    bool ShowsFallback() const { return m_fallbackText != nullptr; }

protected:
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    void ShowFallback(const RECT& area);

    CWebBrowser2 m_browser;
    HWND m_fallbackText = nullptr;
    CLinkLabel m_fallbackLink;
};

// True when the platform can render HTML in the browser control.
bool HtmlEngineAvailable();
