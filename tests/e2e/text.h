// tests/e2e/text.h
#pragma once

#include <string>

namespace e2e {

// Between the programs' ANSI code page (GBK here) and the UTF-8 that the test
// sources and their messages use.
std::string Utf8FromAnsi(const std::string& ansi);
std::string AnsiFromUtf8(const std::string& utf8);

}  // namespace e2e
