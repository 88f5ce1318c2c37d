// package/resource_reader.h
// Reads what a shipped file carries - its header, manifest and version
// resource - without running any of its code, so that a 32-bit process can
// look at the 64-bit files too; and the probe's report over several files.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "package/resource_checks.h"

// False, with the reason, when the file cannot be opened or is no PE file.
bool ReadFileResources(const std::wstring& path, resource_check::FileResources& resources,
                       std::string& error);

// The last part of a path, in UTF-8.
std::string FileNameOf(const std::wstring& path);
std::string Utf8FromWide(const std::wstring& text);

// One line per file, "ok   NAME: ..." or "FAIL NAME: problem; problem";
// 0 when every file passes, 1 otherwise (also for a version text that is not
// one to four numbers).
int ProbeFiles(const std::string& versionText, const std::vector<std::wstring>& paths,
               std::ostream& out);
