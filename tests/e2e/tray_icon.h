// tests/e2e/tray_icon.h
#pragma once

#include <windows.h>

namespace e2e {

// What the tray program's icon shows: yellow alone is Off; red and yellow by
// turns is On.
enum class Lamps { None, Yellow, Red, Unclear };

// The icon's window in Wine's notification area, or null.
HWND IconWindow();
// Which lamps the icon shows on the screen now.
Lamps ShownLamps();

}  // namespace e2e
