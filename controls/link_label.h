// controls/link_label.h
#pragma once

#include <windows.h>

#include <string>

#include "framework/gui_handles.h"
#include "framework/wnd.h"

// A static text control of a dialog template that looks and acts like a web
// link: coloured, underlined text, its own cursor, and a click that opens the
// link's address in the user's browser. The text is the control's own.
class CLinkLabel : public CWnd {
public:
    CLinkLabel();
    ~CLinkLabel() override;

    // True adds SS_NOTIFY, without which the control never sees the mouse;
    // false removes it. No other style bit changes.
    CLinkLabel& SetLink(bool isLink);
    CLinkLabel& SetTextColor(COLORREF color);
    CLinkLabel& SetFontUnderline(bool underline);
    // The cursor stays the caller's; null leaves the control's own.
    CLinkLabel& SetLinkCursor(HCURSOR cursor);
    // What a click opens; empty opens nothing.
    void SetLinkUrl(const std::string& url);

    // The parent's colour request for this control: the label's font, colour
    // and transparent text; the answer is always the background brush.
    bool OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

private:
    void Redraw();

    COLORREF m_textColor;
    // Made once with the button face colour of construction time.
    UniqueBrush m_backgroundBrush;
    // Every change of the description rebuilds m_font from it.
    LOGFONTA m_fontDescription;
    UniqueFont m_font;
    BOOL m_isLink = TRUE;
    HCURSOR m_cursor = nullptr;
    std::string m_linkUrl;
};
