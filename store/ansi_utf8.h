// store/ansi_utf8.h
#pragma once

#include <string>

// Converts text from the ANSI code page (natively: the locale's character set)
// to UTF-8 in place. Text that cannot be converted is left as it is.
void ConvertAnsiToUtf8(std::string& text);
