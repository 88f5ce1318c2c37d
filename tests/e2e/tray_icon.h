// tests/e2e/tray_icon.h
#pragma once

#include <windows.h>

namespace e2e {

// What the tray program's icon shows: red and yellow lamps by turns while
// proxying is on, yellow alone while it is off.
enum class Lamps { None, Yellow, Red, Unclear };

// The icon's window in Wine's notification area: a child of its tray window
// (Wine 8: a stand-alone tray; later Wines: Shell_TrayWnd). Null when gone.
HWND IconWindow();
// Which lamps the icon shows on the screen, read as pixels.
Lamps ShownLamps();

}  // namespace e2e
