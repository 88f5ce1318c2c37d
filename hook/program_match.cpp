// hook/program_match.cpp
#include "hook/program_match.h"

#include <windows.h>

namespace hook {

namespace {

std::wstring Wide(const std::string& ansi)
{
    const int length = static_cast<int>(ansi.size());
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
    if (wideLength <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, &wide[0], wideLength);
    return wide;
}

std::string FullPathOf(const std::string& path)
{
    char full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string(full, length) : path;
}

}  // namespace

std::string LongPathOf(const std::string& path)
{
    const std::string full = FullPathOf(path);
    char longPath[MAX_PATH] = {};
    const DWORD length = GetLongPathNameA(full.c_str(), longPath, sizeof longPath);
    return length > 0 && length < sizeof longPath ? std::string(longPath, length) : full;
}

bool SamePath(const std::string& left, const std::string& right)
{
    // File names compare like the file system does: the characters' upper
    // case, ordinal, whatever the user's language.
    const std::wstring a = Wide(left);
    const std::wstring b = Wide(right);
    return !a.empty() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::string OwnProgramPath()
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

bool IsListedProgram(const std::vector<std::string>& programs, const std::string& programPath)
{
    if (programPath.empty())
        return false;
    const std::string own = LongPathOf(programPath);
    for (const std::string& listed : programs) {
        if (!listed.empty() && SamePath(own, LongPathOf(listed)))
            return true;
    }
    return false;
}

}  // namespace hook
