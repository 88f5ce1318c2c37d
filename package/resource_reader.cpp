// package/resource_reader.cpp
#include "package/resource_reader.h"

#include <windows.h>

#include <cwchar>
#include <ostream>

#include "framework/handles.h"

using resource_check::FileResources;
using resource_check::VersionResource;

namespace {

using DataFileModule = UniqueHandle<HMODULE, FreeLibrary>;

std::string Utf8(const wchar_t* text, size_t length)
{
    if (length == 0)
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr,
                                         nullptr);
    std::string utf8(size_t(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, int(length), &utf8[0], size, nullptr, nullptr);
    return utf8;
}

std::string ErrorText(const char* what)
{
    return std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
}

bool ReadHeader(const std::wstring& path, resource_check::PeHeader& header, std::string& error)
{
    HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        error = ErrorText("cannot be opened");
        return false;
    }
    UniqueKernelHandle file(opened);
    // The linkers put the PE header within the first kilobyte.
    std::string bytes(4096, '\0');
    DWORD read = 0;
    if (!ReadFile(file.Get(), &bytes[0], DWORD(bytes.size()), &read, nullptr)) {
        error = ErrorText("cannot be read");
        return false;
    }
    bytes.resize(read);
    if (!resource_check::ParsePeHeader(bytes, header)) {
        error = "no PE file";
        return false;
    }
    return true;
}

// RT_MANIFEST id 1 (CREATEPROCESS_MANIFEST_RESOURCE_ID): the one Windows
// applies when it starts a program.
bool ReadManifest(HMODULE module, std::string& manifest)
{
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return false;
    manifest.assign(static_cast<const char*>(data), SizeofResource(module, found));
    return true;
}

std::string VersionText(const void* block, const wchar_t* prefix, const wchar_t* name)
{
    const std::wstring query = std::wstring(prefix) + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block, query.c_str(), &value, &length) || !value)
        return {};
    const wchar_t* text = static_cast<const wchar_t*>(value);
    size_t characters = 0;
    while (characters < length && text[characters] != L'\0')
        ++characters;
    return Utf8(text, characters);
}

void ReadVersion(const std::wstring& path, VersionResource& version)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data()))
        return;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", &value, &length) ||
        length < sizeof(VS_FIXEDFILEINFO))
        return;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    if (fixed->dwSignature != 0xfeef04bd)
        return;
    version.present = true;
    version.fileVersionMs = fixed->dwFileVersionMS;
    version.fileVersionLs = fixed->dwFileVersionLS;
    version.productVersionMs = fixed->dwProductVersionMS;
    version.productVersionLs = fixed->dwProductVersionLS;
    version.fileType = fixed->dwFileType;

    // The texts are read from the block the first translation names, as
    // Explorer's Properties do.
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) ||
        length < 2 * sizeof(WORD))
        return;
    const auto* translation = static_cast<const WORD*>(value);
    wchar_t prefix[40];
    std::swprintf(prefix, 40, L"\\StringFileInfo\\%04x%04x\\", unsigned(translation[0]),
                  unsigned(translation[1]));
    version.fileVersion = VersionText(block.data(), prefix, L"FileVersion");
    version.productVersion = VersionText(block.data(), prefix, L"ProductVersion");
    version.productName = VersionText(block.data(), prefix, L"ProductName");
    version.companyName = VersionText(block.data(), prefix, L"CompanyName");
    version.fileDescription = VersionText(block.data(), prefix, L"FileDescription");
    version.originalFilename = VersionText(block.data(), prefix, L"OriginalFilename");
    version.internalName = VersionText(block.data(), prefix, L"InternalName");
    version.legalCopyright = VersionText(block.data(), prefix, L"LegalCopyright");
    version.translated = !version.fileVersion.empty() || !version.productName.empty() ||
                         !version.originalFilename.empty();
}

}  // namespace

bool ReadFileResources(const std::wstring& path, FileResources& resources, std::string& error)
{
    resources = FileResources();
    if (!ReadHeader(path, resources.header, error))
        return false;
    // As data and image resource: nothing of the file runs, and a library of
    // the other width loads as well as one of this process's.
    DataFileModule module(LoadLibraryExW(path.c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module) {
        error = ErrorText("cannot be loaded as data");
        return false;
    }
    resources.hasManifest = ReadManifest(module.Get(), resources.manifest);
    ReadVersion(path, resources.version);
    return true;
}

std::string Utf8FromWide(const std::wstring& text)
{
    return Utf8(text.c_str(), text.size());
}

std::string FileNameOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    const size_t start = slash == std::wstring::npos ? 0 : slash + 1;
    return Utf8(path.c_str() + start, path.size() - start);
}

int ProbeFiles(const std::string& versionText, const std::vector<std::wstring>& paths,
               std::ostream& out)
{
    const std::string dotted = resource_check::DottedFourPart(versionText);
    if (dotted.empty()) {
        out << "FAIL version \"" << versionText << "\" is not one to four numbers\n";
        return 1;
    }
    bool failed = false;
    for (const std::wstring& path : paths) {
        const std::string name = FileNameOf(path);
        FileResources resources;
        std::string error;
        std::vector<std::string> problems;
        if (!ReadFileResources(path, resources, error))
            problems.push_back(error);
        else
            problems = resource_check::CheckFile(resources, name, dotted);
        if (problems.empty()) {
            out << "ok   " << name << ": " << resources.version.fileVersion << ", "
                << resource_check::ManifestArchitecture(resources.header.machine)
                << (resources.header.isLibrary ? " library" : " program, asInvoker") << ", \""
                << resources.version.fileDescription << "\"\n";
            continue;
        }
        failed = true;
        out << "FAIL " << name << ":";
        for (size_t i = 0; i < problems.size(); ++i)
            out << (i == 0 ? " " : "; ") << problems[i];
        out << "\n";
    }
    return failed ? 1 : 0;
}
