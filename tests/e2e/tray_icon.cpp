// tests/e2e/tray_icon.cpp
#include "tests/e2e/tray_icon.h"

#include <string>

namespace e2e {

namespace {

BOOL CALLBACK FindIconWindow(HWND child, LPARAM found)
{
    char name[64] = {};
    GetClassNameA(child, name, sizeof name);
    if (!IsWindowVisible(child) || std::string(name).find("tray_icon") == std::string::npos)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

}  // namespace

HWND IconWindow()
{
    HWND found = nullptr;
    for (const char* area : {"__winex11_standalone_tray", "Shell_TrayWnd"}) {
        HWND tray = FindWindowA(area, nullptr);
        if (tray != nullptr && found == nullptr)
            EnumChildWindows(tray, &FindIconWindow, reinterpret_cast<LPARAM>(&found));
    }
    return found;
}

Lamps ShownLamps()
{
    HWND icon = IconWindow();
    RECT rect;
    if (icon == nullptr || !GetWindowRect(icon, &rect))
        return Lamps::None;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    int red = 0, yellow = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const COLORREF c = GetPixel(memory, x, y);
            red += GetRValue(c) > 0xC0 && GetGValue(c) < 0x60 && GetBValue(c) < 0x60;
            yellow += GetRValue(c) > 0xC0 && GetGValue(c) > 0xC0 && GetBValue(c) < 0x80;
        }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return red > 4 && yellow == 0   ? Lamps::Red
           : yellow > 4 && red == 0 ? Lamps::Yellow
                                    : Lamps::Unclear;
}

}  // namespace e2e
