// framework/app.cpp
#include "framework/app.h"

#include <ole2.h>

#include "framework/wnd.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp() = default;

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

CWinApp* CWinApp::Get()
{
    return g_app;
}

int CWinApp::Main(HINSTANCE instance, int showCommand)
{
    g_app = this;
    m_instance = instance;
    m_showCommand = showCommand;
    bool started = false;
    try {
        started = InitInstance();
    } catch (...) {
        started = false;
    }
    if (started)
        m_quitCode = Run();
    const int code = ExitInstance();
    g_app = nullptr;
    return code;
}

int CWinApp::Run()
{
    MSG msg;
    BOOL got;
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0 && got != -1) {
        if (WalkPreTranslate(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return got == 0 ? static_cast<int>(msg.wParam) : -1;
}

int CWinApp::ExitInstance()
{
    if (m_oleInitialized) {
        OleUninitialize();
        m_oleInitialized = false;
    }
    return m_quitCode;
}

bool CWinApp::EnsureOleInitialized()
{
    if (m_oleInitialized)
        return true;
    if (!m_controlContainer)
        return false;
    const HRESULT hr = OleInitialize(nullptr);
    if (FAILED(hr))
        return false;
    m_oleInitialized = true;
    return true;
}
