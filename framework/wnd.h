// framework/wnd.h
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>

class CToolTipRelay;

// A window object bound to a window it did not necessarily create. The object
// never owns the window's lifetime except where a subclass says so (dialogs
// destroy the window they made); it detaches itself when the window goes away.
//
// Message handling: OnMessage is the one place per class where messages are
// dispatched, a switch into typed handlers that ends with the base class's
// OnMessage. It returns true when the message was handled, with the result in
// *result; false lets the window's default processing run.
class CWnd {
public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    // The object bound to hwnd, or null for windows the framework does not know.
    static CWnd* FromHandle(HWND hwnd);

    // Binds this object to an existing control and routes its messages through
    // OnMessage first (subclassing). False if already bound or the control is missing.
    bool SubclassDlgItem(int id, HWND parent);
    bool SubclassWindow(HWND hwnd);

    // Called for every message of the modal loop whose target is this window
    // or one of its descendants, innermost window first. True consumes it.
    virtual bool PreTranslateMessage(MSG* msg);

    // A notification that a control sent its parent, offered to the control's
    // own object first (WM_COMMAND, WM_NOTIFY, WM_CTLCOLOR*). True means the
    // control handled it; the parent then does nothing more with it.
    virtual bool OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);

    // Convenience wrappers over the window handle.
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageA(m_hWnd, msg, wParam, lParam);
    }
    bool ShowWindow(int how) const { return ::ShowWindow(m_hWnd, how) != FALSE; }

    // Gives the window a tool-tip control of its own. Pre-translation then
    // relays the mouse messages of the window and its children to it, after
    // asking OnToolHitTest which tool is under the mouse.
    bool EnableToolTips();
    // Pre-translation's part for tool tips; nothing for windows without them.
    void RelayToolTipMessage(const MSG& msg);

protected:
    virtual bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
    // Typed handlers reached from the base OnMessage. Controls' notifications
    // arrive here after their own objects declined them.
    virtual bool OnCommand(int id, int code, HWND control);
    virtual bool OnNotify(int id, NMHDR* header, LRESULT* result);
    // The window is gone; the object is already detached.
    virtual void PostNcDestroy() {}
    // The tool at point (client coordinates): fills hwnd, uId, rect and
    // lpszText of info (LPSTR_TEXTCALLBACKA: the text is asked for with
    // TTN_NEEDTEXT) and returns the tool's id, or -1 when there is none.
    virtual INT_PTR OnToolHitTest(POINT point, TOOLINFOA* info) const;

    // OnMessage, with any exception stopped here; every window procedure
    // of the framework calls this.
    bool DispatchGuarded(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) noexcept;

    // For subclassed windows: the processing the window had before.
    LRESULT CallPreviousProc(UINT msg, WPARAM wParam, LPARAM lParam);

    void Attach(HWND hwnd);
    void Detach();

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    bool RouteToChild(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);

    HWND m_hWnd = nullptr;
    WNDPROC m_previousProc = nullptr;
    std::unique_ptr<CToolTipRelay> m_toolTips;
};

// Offers msg to the objects of its target window and of that window's
// parents, innermost first, up to last or the top-level window. True when one
// of them consumed it.
bool WalkPreTranslate(MSG& msg, HWND last = nullptr);

// True for the key-down and key-up messages of the Escape key, which the main
// window and most pages consume so that Escape never closes them.
bool IsEscapeKeyMessage(const MSG& msg);
