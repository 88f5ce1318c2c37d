// client/open_url.cpp
#include "client/open_url.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>

const char* ExplorerParameter(const char* text, char (&buffer)[kExplorerParameterSize])
{
    buffer[0] = '\0';
    if (!text)
        return nullptr;
    if (text[0] == '"')
        return text;
    const std::size_t length = std::strlen(text);
    // Two quotes and the terminator must fit beside the text.
    if (length + 3 > sizeof buffer)
        return nullptr;
    buffer[0] = '"';
    std::memcpy(buffer + 1, text, length);
    buffer[length + 1] = '"';
    buffer[length + 2] = '\0';
    return buffer;
}

bool OpenUrlWithExplorer(const char* text)
{
    char buffer[kExplorerParameterSize];
    const char* parameter = ExplorerParameter(text, buffer);
    if (!parameter)
        return false;
    ShellExecuteA(nullptr, "open", "explorer.exe", parameter, nullptr, SW_SHOW);
    return true;
}
