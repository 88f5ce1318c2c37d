// tests/e2e/text.cpp
#include "tests/e2e/text.h"

#include <windows.h>

namespace e2e {

namespace {

std::string Convert(const std::string& text, UINT from, UINT to)
{
    if (text.empty())
        return text;
    const int length = static_cast<int>(text.size());
    std::wstring wide(
        static_cast<std::size_t>(MultiByteToWideChar(from, 0, text.data(), length, nullptr, 0)),
        L'\0');
    MultiByteToWideChar(from, 0, text.data(), length, &wide[0], static_cast<int>(wide.size()));
    const int wideLength = static_cast<int>(wide.size());
    std::string result(static_cast<std::size_t>(WideCharToMultiByte(to, 0, wide.data(), wideLength,
                                                                    nullptr, 0, nullptr, nullptr)),
                       '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideLength, &result[0], static_cast<int>(result.size()),
                        nullptr, nullptr);
    return result;
}

}  // namespace

std::string Utf8FromAnsi(const std::string& ansi)
{
    return Convert(ansi, CP_ACP, CP_UTF8);
}

std::string AnsiFromUtf8(const std::string& utf8)
{
    return Convert(utf8, CP_UTF8, CP_ACP);
}

std::string WindowsPathFromUnix(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return path;
    std::string windows = "Z:" + path;
    for (char& c : windows)
        if (c == '/')
            c = '\\';
    return windows;
}

}  // namespace e2e
