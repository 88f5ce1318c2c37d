// common/command_line.h
#pragma once

// A blank between the words of a command line, as the C runtime splits it.
template <typename Char>
constexpr bool IsCommandLineBlank(Char c)
{
    return c == ' ' || c == '\t';
}

// The argument text of a command line: what follows the program's own name
// (quoted or not) and the blanks after it. Never null for a non-null input.
const char* CommandLineArguments(const char* commandLine);

// True when the arguments ask the running instance to close: "-exit",
// case-sensitive, anywhere in them (also inside a longer word). The program's
// own path is not looked at, so a folder named like the switch is harmless.
bool HasExitRequest(const char* commandLine);
