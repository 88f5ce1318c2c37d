// tray/kestrel_tray_app.h
#pragma once

#include <memory>

#include "framework/app.h"
#include "framework/handles.h"
#include "tray/main_frame.h"

// The tray program. A start either passes an exit request to the running tray
// program, ends at once because one already runs, or becomes the running one:
// its hidden main window holds the notification-area icon, and the program
// ends when that window is destroyed.
class CKestrelTrayApp : public CWinApp {
protected:
    bool InitInstance() override;
    int ExitInstance() override;

private:
    // The named event whose existence says that a tray program runs; held
    // for the whole life of the running one.
    UniqueKernelHandle m_hInstanceEvent;
    // Outlives its window, so that a handler running when another program
    // closes the window still has its object.
    std::unique_ptr<CMainFrame> m_frame;
};
