// tests/e2e/shortcut_file.h
#pragma once

#include <string>

namespace e2e {

// Saves a shell shortcut at linkPath (ANSI) that leads to target with the
// given arguments and the first icon of iconFile (none: the target's), made
// the way the shell makes one (IShellLinkA); initialises COM for the call.
bool MakeShortcut(const std::string& linkPath, const std::string& target,
                  const std::string& arguments = std::string(),
                  const std::string& iconFile = std::string());

}  // namespace e2e
