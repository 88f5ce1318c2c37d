// common/ansi_text.h
#pragma once

#include <string>

// ANSI text (the system's code page) as UTF-16, for the wide-only interfaces
// that the programs, which keep ANSI text, must call; empty when the text
// cannot be converted.
std::wstring WideFromAnsi(const char* text);
