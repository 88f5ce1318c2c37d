// agent/window_watch.h
// New shells make themselves known by their windows: the desktop's and every
// folder window's process creates some at once. The watch is told of each
// window created on the agent's desktop (an out-of-context event hook, so
// nothing is loaded into the programs) and notes when the process behind one
// is a shell it has not seen, so that the agent looks at once instead of at
// its next regular scan. Only the thread that made the watch is told, while
// it handles its messages.
#pragma once

#include <windows.h>

#include <unordered_map>

namespace agent {

class WindowWatch {
public:
    WindowWatch();
    ~WindowWatch();
    WindowWatch(const WindowWatch&) = delete;
    WindowWatch& operator=(const WindowWatch&) = delete;

    // False where the system offers no such events: regular scans only.
    bool Watching() const { return m_hook != nullptr; }
    // Handles the messages waiting; true when a shell not seen before made a
    // window since the last call.
    bool NewShellSeen();
    // Forgets which processes were shells: their ids may have been reused.
    void Forget() { m_isShell.clear(); }

private:
    static void CALLBACK OnEvent(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child,
                                 DWORD, DWORD);
    void OnWindowCreated(HWND window);

    HWINEVENTHOOK m_hook = nullptr;
    std::unordered_map<DWORD, bool> m_isShell;  // by process id
    bool m_newShell = false;
};

// Whether the process's image is named explorer.exe.
bool IsShellProcess(DWORD processId);

}  // namespace agent
