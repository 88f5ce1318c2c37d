// hook/program_match.h
// Whether this process is one of the listed programs: paths are compared as
// Windows compares them, in their full long form and without regard to case.
#pragma once

#include <string>
#include <vector>

namespace hook {

// The full long form of an ANSI path; the path itself, made full, when the
// file does not exist.
std::string LongPathOf(const std::string& path);

bool SamePath(const std::string& left, const std::string& right);

// The full path of this process's program file.
std::string OwnProgramPath();

bool IsListedProgram(const std::vector<std::string>& programs, const std::string& programPath);

}  // namespace hook
