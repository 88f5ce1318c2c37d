// agent/window_watch.cpp
#include "agent/window_watch.h"

#include <cwchar>

#include "framework/handles.h"

namespace agent {

namespace {

// One watch per process: the event callback carries no context.
WindowWatch* g_watch = nullptr;

}  // namespace

bool IsShellProcess(DWORD processId)
{
    const UniqueKernelHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process)
        return false;
    wchar_t path[MAX_PATH * 2];
    DWORD length = MAX_PATH * 2;
    if (!QueryFullProcessImageNameW(process.Get(), 0, path, &length))
        return false;
    const wchar_t* slash = std::wcsrchr(path, L'\\');
    return _wcsicmp(slash != nullptr ? slash + 1 : path, L"explorer.exe") == 0;
}

WindowWatch::WindowWatch()
{
    if (g_watch != nullptr)
        return;
    m_hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, &OnEvent, 0, 0,
                             WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    if (m_hook != nullptr)
        g_watch = this;
}

WindowWatch::~WindowWatch()
{
    if (m_hook == nullptr)
        return;
    UnhookWinEvent(m_hook);
    g_watch = nullptr;
}

bool WindowWatch::NewShellSeen()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
    const bool seen = m_newShell;
    m_newShell = false;
    return seen;
}

void CALLBACK WindowWatch::OnEvent(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child,
                                   DWORD, DWORD)
{
    if (g_watch != nullptr && object == OBJID_WINDOW && child == CHILDID_SELF)
        g_watch->OnWindowCreated(window);
}

void WindowWatch::OnWindowCreated(HWND window)
{
    DWORD processId = 0;
    if (GetWindowThreadProcessId(window, &processId) == 0)
        return;
    const auto known = m_isShell.find(processId);
    if (known != m_isShell.end())
        return;
    const bool shell = IsShellProcess(processId);
    m_isShell.emplace(processId, shell);
    m_newShell = m_newShell || shell;
}

}  // namespace agent
