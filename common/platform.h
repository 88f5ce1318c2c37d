// common/platform.h
#pragma once

// The little that differs between the Windows programs and the native build
// in which the portable units are tested.
#ifdef _WIN32
#include <windows.h>
using ModuleHandle = HMODULE;
constexpr char kPathSeparator = '\\';
#else
// Natively there is only the running executable; the handle is ignored.
using ModuleHandle = const void*;
constexpr char kPathSeparator = '/';
#endif
