// common/start_program.cpp
#include "common/start_program.h"

#include <windows.h>

#include "common/module_dir.h"

namespace {

// The quoted short path of fileName beside our program; false when missing.
bool ShortCommandLine(const char* fileName, char (&commandLine)[MAX_PATH + 2])
{
    char longPath[MAX_PATH] = {};
    char shortPath[MAX_PATH] = {};
    MakeModulePath(fileName, sizeof longPath, longPath);
    const DWORD length = GetShortPathNameA(longPath, shortPath, sizeof shortPath);
    if (length == 0 || length >= sizeof shortPath)
        return false;
    // Quoted, because a volume without short names hands back the long path,
    // and a path with blanks would otherwise be split into program and arguments.
    wsprintfA(commandLine, "\"%s\"", shortPath);
    return true;
}

}  // namespace

bool StartModuleProgram(const char* fileName)
{
    char commandLine[MAX_PATH + 2] = {};
    // WinExec reports success with a value above 31.
    return ShortCommandLine(fileName, commandLine) && WinExec(commandLine, SW_SHOW) > 31;
}

bool StartModuleBackgroundProgram(const char* fileName)
{
    char commandLine[MAX_PATH + 2] = {};
    if (!ShortCommandLine(fileName, commandLine))
        return false;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started))
        return false;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}
