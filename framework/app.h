// framework/app.h
#pragma once

#include <windows.h>

#include <string>

class CWnd;

// The one application object of a process. Main() runs InitInstance; when it
// succeeds the message loop follows, otherwise the program goes straight to
// shut-down. ExitInstance runs on every path and gives the exit code.
class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The application object of this process, or null outside Main().
    static CWinApp* Get();

    int Main(HINSTANCE instance, int showCommand);

    HINSTANCE Instance() const { return m_instance; }
    int ShowCommand() const { return m_showCommand; }
    CWnd* MainWnd() const { return m_mainWnd; }
    void SetMainWnd(CWnd* wnd) { m_mainWnd = wnd; }

    // Lets dialogs host ActiveX controls. OLE is initialised on first need,
    // on this thread, by EnsureOleInitialized, and uninitialised at shut-down.
    void EnableControlContainer() { m_controlContainer = true; }
    bool ControlContainerEnabled() const { return m_controlContainer; }
    bool EnsureOleInitialized();

protected:
    virtual bool InitInstance() = 0;
    // Messages until WM_QUIT; the quit code.
    virtual int Run();
    // The framework's own shut-down. Overrides release their own things first.
    virtual int ExitInstance();

private:
    HINSTANCE m_instance = nullptr;
    int m_showCommand = SW_SHOWNORMAL;
    CWnd* m_mainWnd = nullptr;
    bool m_controlContainer = false;
    bool m_oleInitialized = false;
    int m_quitCode = 0;
};

// The name the framework shows in its message boxes: the program's title
// string where it has one, else its file name without the extension.
std::string GetAppName();
