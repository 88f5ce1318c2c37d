// tests/e2e/window_driver.h
// Reading and driving another process's windows as a user or another program
// would: found by class, title or owner, read through messages, driven by
// messages and by input into the system's input queue.
#pragma once

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace e2e {

// Long enough for a slow Wine start, short enough to fail a hung case.
constexpr DWORD kPatienceMs = 10000;

// Polls every 20 ms until done() holds or timeoutMs has passed.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = kPatienceMs);

DWORD ProcessOf(HWND window);
// The window of that class (FindWindowA) when it belongs to the process.
HWND FindWindowOf(const char* className, DWORD processId);
// A top-level window of the process for which match holds.
HWND FindTopLevel(DWORD processId, const std::function<bool(HWND)>& match);
// WM_GETTEXT sent explicitly: it crosses processes, GetWindowTextA does not.
// ANSI bytes; empty also when the window does not answer.
std::string WindowText(HWND window);

int TabCount(HWND tab);
int TabSelection(HWND tab);
// Through a buffer inside the tab control's process.
bool TabItemText(HWND tab, int index, std::string& text);
bool TabItemRect(HWND tab, int index, RECT& rect);
// A left click at the centre of the item, posted as mouse messages.
bool ClickTab(HWND tab, int index);

// The labels of a list view in item order, through a buffer inside its process.
std::vector<std::string> ListViewLabels(DWORD processId, HWND list);

bool ClickButton(HWND button);  // BM_CLICK
// A menu command as the menu bar sends it; posted, so a modal box it opens
// does not hold the caller.
bool PostCommand(HWND window, WORD id);
bool SendMessageWaiting(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Waits for the file dialog that owner's process opens, then chooses path in
// it as typed into its name field, or cancels it for an empty path. True once
// the dialog has gone.
bool ChooseInFileDialog(DWORD processId, HWND owner, const std::string& path);

// Makes the window the foreground one, so that input reaches it.
bool BringToFront(HWND window);
// Presses and releases key while heldKeys are down (Alt for Alt+F4), through
// the system's input queue: it reaches the foreground window's focus.
bool PressKeys(std::initializer_list<WORD> heldKeys, WORD key);
// clicks left-button clicks (two: a double click), or right-button ones.
bool ClickAtScreen(POINT point, int clicks = 1, bool right = false);
bool MoveMouseTo(POINT point);
// The centre of the window, in screen coordinates.
POINT CentreOf(HWND window);

}  // namespace e2e
