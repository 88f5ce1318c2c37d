// framework/app.cpp
#include "framework/app.h"

#include <ole2.h>

#include "framework/framework_res.h"
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

std::string GetAppName()
{
    char text[MAX_PATH];
    const int got = LoadStringA(GetModuleHandleA(nullptr), IDS_FRAMEWORK_APP_TITLE, text, sizeof text);
    if (got > 0)
        return std::string(text, static_cast<size_t>(got));
    const DWORD length = GetModuleFileNameA(nullptr, text, sizeof text);
    if (length == 0 || length >= sizeof text)
        return std::string();
    std::string name(text, length);
    // The file name is what follows the last separator; a trail byte of a
    // double-byte character can look like one, so walk character by character.
    size_t nameStart = 0;
    for (const char* p = name.c_str(); *p; p = CharNextA(p)) {
        if (*p == '\\' || *p == '/' || *p == ':')
            nameStart = static_cast<size_t>(p - name.c_str()) + 1;
    }
    name.erase(0, nameStart);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}
