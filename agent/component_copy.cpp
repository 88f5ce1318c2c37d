// agent/component_copy.cpp
#include "agent/component_copy.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "injection/component_files.h"

namespace agent {

namespace {

bool Attributes(const std::wstring& path, WIN32_FILE_ATTRIBUTE_DATA& data)
{
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != 0;
}

void Mix(std::uint64_t& hash, const void* bytes, std::size_t size)
{
    const auto* at = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= at[i];
        hash *= 0x100000001B3ull;  // FNV-1a
    }
}

// Names the install folder and the files' sizes and times: another build,
// even of the same version, gets a folder of its own.
std::wstring CopyName(const std::wstring& installFolder)
{
    std::uint64_t hash = 0xCBF29CE484222325ull;
    std::wstring folder = installFolder;
    CharLowerBuffW(&folder[0], static_cast<DWORD>(folder.size()));
    Mix(hash, folder.data(), folder.size() * sizeof(wchar_t));
    for (const wchar_t* file : injection::kComponentFiles) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!Attributes(installFolder + L"\\" + file, data))
            continue;
        Mix(hash, file, std::wcslen(file) * sizeof(wchar_t));
        Mix(hash, &data.nFileSizeLow, sizeof data.nFileSizeLow);
        Mix(hash, &data.ftLastWriteTime, sizeof data.ftLastWriteTime);
    }
    wchar_t text[17];
    std::swprintf(text, 17, L"%016llx", static_cast<unsigned long long>(hash));
    return std::wstring(KESTREL_VERSION_TEXT) + L"-" + text;
}

std::wstring CopiesFolder()
{
    wchar_t base[MAX_PATH];
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, base) !=
        S_OK)
        return std::wstring();
    std::wstring folder = std::wstring(base) + L"\\Kestrel";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

bool SameSize(const std::wstring& left, const std::wstring& right)
{
    WIN32_FILE_ATTRIBUTE_DATA a;
    WIN32_FILE_ATTRIBUTE_DATA b;
    return Attributes(left, a) && Attributes(right, b) && a.nFileSizeLow == b.nFileSizeLow &&
           a.nFileSizeHigh == b.nFileSizeHigh;
}

}  // namespace

std::wstring PrepareComponentCopy(const std::wstring& installFolder)
{
    const std::wstring copies = CopiesFolder();
    if (copies.empty())
        return std::wstring();
    const std::wstring folder = copies + L"\\" + CopyName(installFolder);
    CreateDirectoryW(folder.c_str(), nullptr);
    bool any = false;
    for (const wchar_t* file : injection::kComponentFiles) {
        const std::wstring from = installFolder + L"\\" + file;
        const std::wstring to = folder + L"\\" + file;
        if (GetFileAttributesW(from.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;  // a build of one width has no other
        // A copy cut short by an earlier end is made again; a whole one is
        // never changed, as its folder's name says what it holds.
        if (!SameSize(from, to) && !CopyFileW(from.c_str(), to.c_str(), FALSE))
            return std::wstring();
        any = true;
    }
    return any ? folder : std::wstring();
}

void RemoveStaleCopies(const std::wstring& copyFolder)
{
    const std::size_t separator = copyFolder.find_last_of(L'\\');
    if (separator == std::wstring::npos)
        return;
    const std::wstring parent = copyFolder.substr(0, separator);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((parent + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        const std::wstring path = parent + L"\\" + name;
        if (name == L"." || name == L".." || path == copyFolder ||
            (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            continue;
        // A library still loaded somewhere cannot be deleted: its folder
        // stays until a later start of the agent.
        for (const wchar_t* file : injection::kComponentFiles)
            DeleteFileW((path + L"\\" + file).c_str());
        RemoveDirectoryW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace agent
