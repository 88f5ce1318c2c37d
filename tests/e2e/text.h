// tests/e2e/text.h
#pragma once

#include <string>

namespace e2e {

// Between the programs' ANSI code page (GBK here) and the UTF-8 that the test
// sources and their messages use.
std::string Utf8FromAnsi(const std::string& ansi);
std::string AnsiFromUtf8(const std::string& utf8);

// The Windows spelling of a Linux path (drive Z: is the Linux root under
// Wine); other paths come back unchanged.
std::string WindowsPathFromUnix(const std::string& path);

}  // namespace e2e
