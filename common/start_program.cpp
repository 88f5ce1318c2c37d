// common/start_program.cpp
#include "common/start_program.h"

#include <windows.h>

#include "common/module_dir.h"

bool StartModuleProgram(const char* fileName)
{
    char longPath[MAX_PATH] = {};
    char shortPath[MAX_PATH] = {};
    MakeModulePath(fileName, sizeof longPath, longPath);
    const DWORD length = GetShortPathNameA(longPath, shortPath, sizeof shortPath);
    if (length == 0 || length >= sizeof shortPath)
        return false;
    // Quoted, because a volume without short names hands back the long path,
    // and a path with blanks would otherwise be split into program and arguments.
    char commandLine[MAX_PATH + 2] = {};
    wsprintfA(commandLine, "\"%s\"", shortPath);
    // WinExec reports success with a value above 31.
    return WinExec(commandLine, SW_SHOW) > 31;
}
