// injection/component_files.cpp
#include "injection/component_files.h"

#include <windows.h>

#include "common/module_dir.h"

namespace injection {

std::string ComponentPath(void* module, const char* fileName)
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(module), path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return std::string();
    const std::string dir = ModuleDirFromPath(
        path, '\\', [](unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; });
    return dir.empty() ? std::string() : dir + fileName;
}

}  // namespace injection
