// tests/e2e/screenshot.h
#pragma once

#include <windows.h>

#include <string>

namespace e2e {

// What the screen shows inside the window's rectangle, as a 24-bit BMP file.
bool SaveWindowShot(HWND window, const std::string& bmpPath);

}  // namespace e2e
