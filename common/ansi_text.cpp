// common/ansi_text.cpp
#include "common/ansi_text.h"

#include <windows.h>

std::wstring WideFromAnsi(const char* text)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length) != length)
        return std::wstring();
    wide.pop_back();  // the terminator counted in length
    return wide;
}
