// store/ansi_utf8.cpp
#include "store/ansi_utf8.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#include <langinfo.h>
#include <memory>
#endif

#include <algorithm>

namespace {

// Every ANSI code page agrees with ASCII, and so does UTF-8: such text needs no
// conversion, which spares each database open the converter's set-up.
bool IsAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

#ifdef _WIN32

void ConvertAnsiToUtf8(std::string& text)
{
    if (IsAscii(text))
        return;
    const int ansiLength = static_cast<int>(text.size());
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, text.data(), ansiLength, nullptr, 0);
    if (wideLength <= 0)
        return;
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text.data(), ansiLength, &wide[0], wideLength) != wideLength)
        return;
    const int utf8Length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (utf8Length <= 0)
        return;
    std::string utf8(static_cast<std::size_t>(utf8Length), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0], utf8Length, nullptr,
                            nullptr) != utf8Length)
        return;
    text.swap(utf8);
}

#else

namespace {

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

}  // namespace

void ConvertAnsiToUtf8(std::string& text)
{
    if (IsAscii(text))
        return;
    // The locale's character set plays the part of the ANSI code page.
    iconv_t raw = iconv_open("UTF-8", nl_langinfo(CODESET));
    if (raw == reinterpret_cast<iconv_t>(-1))
        return;
    IconvHandle cd(raw);

    std::string utf8(text.size() * 3 + 16, '\0');
    char* in = &text[0];
    std::size_t inLeft = text.size();
    char* out = &utf8[0];
    std::size_t outLeft = utf8.size();
    while (inLeft > 0) {
        if (iconv(raw, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1))
            continue;
        if (errno != E2BIG)
            return;  // invalid or incomplete sequence: keep the bytes
        const std::size_t used = static_cast<std::size_t>(out - &utf8[0]);
        utf8.resize(utf8.size() * 2);
        out = &utf8[0] + used;
        outLeft = utf8.size() - used;
    }
    utf8.resize(static_cast<std::size_t>(out - &utf8[0]));
    text.swap(utf8);
}

#endif
