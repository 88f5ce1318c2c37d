// tests/e2e/shortcut_file.cpp
#include "tests/e2e/shortcut_file.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

namespace e2e {

bool MakeShortcut(const std::string& linkPath, const std::string& target,
                  const std::string& arguments, const std::string& iconFile)
{
    const HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool saved = false;
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        WCHAR widePath[MAX_PATH * 2];
        if (SUCCEEDED(link->SetPath(target.c_str())) &&
            SUCCEEDED(link->SetArguments(arguments.c_str())) &&
            (iconFile.empty() || SUCCEEDED(link->SetIconLocation(iconFile.c_str(), 0))) &&
            SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
            MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, widePath, MAX_PATH * 2) > 0)
            saved = SUCCEEDED(file->Save(widePath, TRUE));
        if (file)
            file->Release();
        link->Release();
    }
    if (SUCCEEDED(started))
        CoUninitialize();
    return saved;
}

}  // namespace e2e
