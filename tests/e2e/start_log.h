// tests/e2e/start_log.h
// What the stand-ins for the programs Kestrel.exe starts share: each start
// appends one line, "full path of this file|command line", to a log of the
// given name in the stand-in's own folder.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>

inline bool LogThisStart(const char* logName)
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    char log[MAX_PATH + 32] = {};
    std::memcpy(log, path, length);
    char* name = std::strrchr(log, '\\');
    std::strcpy(name != nullptr ? name + 1 : log, logName);
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(log, "ab"), &std::fclose);
    if (!out)
        return false;
    std::fprintf(out.get(), "%s|%s\n", path, GetCommandLineA());
    return true;
}
