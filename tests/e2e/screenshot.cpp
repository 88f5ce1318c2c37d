// tests/e2e/screenshot.cpp
#include "tests/e2e/screenshot.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace e2e {

bool SaveWindowShot(HWND window, const std::string& bmpPath)
{
    RECT rect;
    if (!GetWindowRect(window, &rect))
        return false;
    // Let the window finish painting before the screen is read.
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return false;

    struct ScreenDcReleaser {
        void operator()(HDC dc) const { ReleaseDC(nullptr, dc); }
    };
    std::unique_ptr<HDC__, ScreenDcReleaser> screen(GetDC(nullptr));
    std::unique_ptr<HDC__, decltype(&DeleteDC)> memory(CreateCompatibleDC(screen.get()), &DeleteDC);
    std::unique_ptr<HBITMAP__, decltype(&DeleteObject)> bitmap(
        CreateCompatibleBitmap(screen.get(), width, height), &DeleteObject);
    if (!screen || !memory || !bitmap)
        return false;
    HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
    const bool copied = BitBlt(memory.get(), 0, 0, width, height, screen.get(), rect.left, rect.top,
                               SRCCOPY) != FALSE;
    SelectObject(memory.get(), previous);

    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;  // bottom-up, as BMP files store rows
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<unsigned char> pixels(static_cast<std::size_t>(stride) * height);
    if (!copied ||
        GetDIBits(memory.get(), bitmap.get(), 0, static_cast<UINT>(height), pixels.data(),
                  reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS) != height)
        return false;

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(bmpPath.c_str(), "wb"), &std::fclose);
    return out && std::fwrite(&file, sizeof(file), 1, out.get()) == 1 &&
           std::fwrite(&header, sizeof(header), 1, out.get()) == 1 &&
           std::fwrite(pixels.data(), 1, pixels.size(), out.get()) == pixels.size();
}

}  // namespace e2e
