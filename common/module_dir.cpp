// common/module_dir.cpp
#include "common/module_dir.h"

#include <cstring>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "common/instance_names.h"

namespace {

// Program paths live in 260-byte buffers, so the directory never needs more.
constexpr std::size_t kMaxModuleDir = 259;

std::string& ModuleDir()
{
    // Function-local so that static objects elsewhere may build paths safely.
    static std::string dir;
    return dir;
}

bool StoreModuleDir(const char* modulePath, LeadBytePredicate isLeadByte)
{
    std::string dir = ModuleDirFromPath(modulePath, kPathSeparator, isLeadByte);
    if (dir.size() > kMaxModuleDir)
        return false;
    ModuleDir().swap(dir);
    return true;
}

#ifdef _WIN32
bool IsAnsiLeadByte(unsigned char byte)
{
    return IsDBCSLeadByte(byte) != FALSE;
}
#endif

}  // namespace

std::string ModuleDirFromPath(const char* path, char separator, LeadBytePredicate isLeadByte)
{
    if (path == nullptr)
        return std::string();
    std::size_t end = 0;
    for (std::size_t i = 0; path[i] != '\0'; ++i) {
        if (isLeadByte != nullptr && isLeadByte(static_cast<unsigned char>(path[i]))) {
            if (path[i + 1] == '\0')
                break;
            ++i;
        } else if (path[i] == separator) {
            end = i + 1;
        }
    }
    return std::string(path, end);
}

#ifdef _WIN32
bool InitModuleDir(ModuleHandle module)
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    // A name that filled the buffer was cut short: its directory would be wrong.
    if (length == 0 || length >= MAX_PATH)
        return false;
    return StoreModuleDir(path, IsAnsiLeadByte);
}
#else
bool InitModuleDir(ModuleHandle)
{
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path - 1)
        return false;
    // '/' is never part of a multi-byte character in UTF-8 or GBK.
    return StoreModuleDir(path, nullptr);
}
#endif

bool MakeModulePath(const char* fileName, std::size_t bufferSize, char* buffer)
{
    if (fileName == nullptr || buffer == nullptr || bufferSize == 0)
        return false;
    const std::string& dir = ModuleDir();
    const std::size_t nameLength = std::strlen(fileName);
    if (dir.size() + nameLength >= bufferSize) {
        buffer[0] = '\0';
        return false;
    }
    std::memcpy(buffer, dir.data(), dir.size());
    std::memcpy(buffer + dir.size(), fileName, nameLength + 1);
    return true;
}

std::string GetClientDbPath()
{
    char path[260] = {};
    MakeModulePath(kClientDbFile, sizeof path, path);
    return path;
}

std::string GetModuleDir()
{
    return ModuleDir();
}
