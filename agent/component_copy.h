// agent/component_copy.h
// The copy of the component's files that shells load: kept under the user's
// local application data, one folder per install folder and build, so that a
// library living in a shell for hours never holds the install folder (an
// upgrade replaces it, an uninstall removes it). Copies of other builds are
// removed once nothing holds them.
#pragma once

#include <string>

namespace agent {

// The folder holding the copy, made or checked now; empty when it cannot be
// had. `installFolder` ends without a separator.
std::wstring PrepareComponentCopy(const std::wstring& installFolder);

// Removes the other copies beside `copyFolder` that no process holds.
void RemoveStaleCopies(const std::wstring& copyFolder);

}  // namespace agent
