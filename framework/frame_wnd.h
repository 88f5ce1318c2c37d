// framework/frame_wnd.h
#pragma once

#include <windows.h>

#include "framework/wnd.h"

// A top-level window made in code rather than from a template, of a window
// class the framework registers once per process. Messages reach OnMessage as
// in dialogs; what it leaves goes to the system's default processing. Closing
// destroys the window, and when it is the application's main window its
// destruction ends the application's message loop.
class CFrameWnd : public CWnd {
public:
    CFrameWnd() = default;
    // Destroys the window if it is still there.
    ~CFrameWnd() override;

    // Creates the window with title and style (no parent: a top-level window).
    // False when it could not be created, also when OnCreate refused.
    bool Create(const char* title, DWORD style);

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

    // WM_CREATE: 0 to go on, -1 to fail the creation.
    virtual int OnCreate(CREATESTRUCTA* create);
    // WM_CLOSE. Default: destroy the window.
    virtual void OnClose();
    // WM_DESTROY, before the default processing.
    virtual void OnDestroy() {}
    // WM_TIMER of a timer without a callback; false lets the default processing run.
    virtual bool OnTimer(UINT_PTR id);

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
};
