// injection/component_files.cpp
#include "injection/component_files.h"

#include <windows.h>

namespace injection {

std::wstring ComponentPath(void* module, const wchar_t* fileName)
{
    // Long paths are possible; the name is cut short exactly when it fills
    // the buffer, so grow until it does not.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(module), &path[0],
                                                static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768)
            return std::wstring();
        path.resize(path.size() * 2);
    }
    const std::size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos)
        return std::wstring();
    path.resize(separator + 1);
    return path + fileName;
}

}  // namespace injection
