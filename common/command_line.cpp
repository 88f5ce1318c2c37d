// common/command_line.cpp
#include "common/command_line.h"

#include <cstring>

namespace {
const char kExitSwitch[] = "-exit";
}  // namespace

const char* CommandLineArguments(const char* commandLine)
{
    if (!commandLine)
        return nullptr;
    const char* p = commandLine;
    // The program name ends at the closing quote when it is quoted, otherwise
    // at the first blank, as the C runtime splits it. Neither byte can be the
    // trail byte of a double-byte character.
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p && !IsCommandLineBlank(*p))
            ++p;
    }
    while (IsCommandLineBlank(*p))
        ++p;
    return p;
}

bool HasExitRequest(const char* commandLine)
{
    const char* arguments = CommandLineArguments(commandLine);
    return arguments && std::strstr(arguments, kExitSwitch) != nullptr;
}
