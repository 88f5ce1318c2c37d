// package/resource_checks.cpp
#include "package/resource_checks.h"

#include <algorithm>
#include <cctype>

namespace resource_check {

namespace {

// VS_FIXEDFILEINFO's dwFileType values (VFT_APP, VFT_DLL).
constexpr uint32_t kProgramFileType = 1;
constexpr uint32_t kLibraryFileType = 2;
constexpr uint16_t kIsLibraryFlag = 0x2000;  // IMAGE_FILE_DLL

// What Windows 7, 8, 8.1 and 10/11 look for in a program's manifest before
// they stop treating it as written for an older system.
const struct {
    const char* id;
    const char* system;
} kSupportedSystems[] = {
    {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "Windows 7"},
    {"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "Windows 8"},
    {"{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "Windows 8.1"},
    {"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "Windows 10 and 11"},
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string LocalName(const std::string& name)
{
    const size_t colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

uint32_t ReadLittleEndian(const std::string& bytes, size_t at, int size)
{
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// The four numbers of a dotted four-part version; false for anything else.
bool VersionNumbers(const std::string& dotted, uint32_t numbers[4])
{
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t end = i < 3 ? dotted.find('.', at) : dotted.size();
        if (end == std::string::npos || end == at || end - at > 5)
            return false;
        numbers[i] = 0;
        for (size_t j = at; j < end; ++j) {
            if (!std::isdigit(static_cast<unsigned char>(dotted[j])))
                return false;
            numbers[i] = numbers[i] * 10 + uint32_t(dotted[j] - '0');
        }
        if (numbers[i] > 0xffff)
            return false;
        at = end + 1;
    }
    return true;
}

std::string FixedText(uint32_t ms, uint32_t ls)
{
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xffff) + "." +
           std::to_string(ls >> 16) + "." + std::to_string(ls & 0xffff);
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

}  // namespace

std::string DottedFourPart(const std::string& versionText)
{
    size_t begin = 0;
    size_t end = versionText.size();
    while (begin < end && IsBlank(versionText[begin]))
        ++begin;
    while (end > begin && IsBlank(versionText[end - 1]))
        --end;
    std::string dotted = versionText.substr(begin, end - begin);
    const auto dots = std::count(dotted.begin(), dotted.end(), '.');
    if (dots > 3)
        return {};
    for (auto i = dots; i < 3; ++i)
        dotted += ".0";
    uint32_t numbers[4];
    return VersionNumbers(dotted, numbers) ? dotted : std::string();
}

bool ParsePeHeader(const std::string& bytes, PeHeader& header)
{
    if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0)
        return false;
    const uint32_t pe = ReadLittleEndian(bytes, 0x3c, 4);
    // Signature, then IMAGE_FILE_HEADER: Machine at 4, Characteristics at 22.
    if (pe > bytes.size() || bytes.size() - pe < 24 ||
        bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        return false;
    header.machine = uint16_t(ReadLittleEndian(bytes, pe + 4, 2));
    header.isLibrary = (ReadLittleEndian(bytes, pe + 22, 2) & kIsLibraryFlag) != 0;
    return true;
}

std::string ManifestArchitecture(uint16_t machine)
{
    switch (machine) {
    case 0x014c:  // IMAGE_FILE_MACHINE_I386
        return "x86";
    case 0x8664:  // IMAGE_FILE_MACHINE_AMD64
        return "amd64";
    default:
        return {};
    }
}

bool XmlTag::Has(const std::string& attribute) const
{
    return std::any_of(attributes.begin(), attributes.end(),
                       [&](const auto& pair) { return pair.first == attribute; });
}

std::string XmlTag::Get(const std::string& attribute) const
{
    for (const auto& pair : attributes)
        if (pair.first == attribute)
            return pair.second;
    return {};
}

std::vector<XmlTag> StartTags(const std::string& xml)
{
    std::vector<XmlTag> tags;
    const auto skipBlanks = [&](size_t at) {
        while (at < xml.size() && IsBlank(xml[at]))
            ++at;
        return at;
    };
    const auto isNameEnd = [&](size_t at) {
        return IsBlank(xml[at]) || xml[at] == '/' || xml[at] == '>' || xml[at] == '=';
    };
    size_t at = 0;
    while ((at = xml.find('<', at)) != std::string::npos) {
        if (xml.compare(at, 4, "<!--") == 0) {
            at = xml.find("-->", at + 4);
            if (at == std::string::npos)
                break;
            at += 3;
            continue;
        }
        size_t pos = at + 1;
        if (pos < xml.size() && (xml[pos] == '?' || xml[pos] == '!' || xml[pos] == '/')) {
            at = pos;
            continue;
        }
        size_t nameEnd = pos;
        while (nameEnd < xml.size() && !isNameEnd(nameEnd))
            ++nameEnd;
        XmlTag tag;
        tag.name = LocalName(xml.substr(pos, nameEnd - pos));
        pos = skipBlanks(nameEnd);
        while (pos < xml.size() && xml[pos] != '>' && xml[pos] != '/') {
            size_t attributeEnd = pos;
            while (attributeEnd < xml.size() && !isNameEnd(attributeEnd))
                ++attributeEnd;
            const size_t equals = skipBlanks(attributeEnd);
            const size_t quote = skipBlanks(equals + 1);
            if (attributeEnd == pos || equals >= xml.size() || xml[equals] != '=' ||
                quote >= xml.size() || (xml[quote] != '"' && xml[quote] != '\''))
                break;  // not well formed: what was read so far is all we take
            const size_t close = xml.find(xml[quote], quote + 1);
            if (close == std::string::npos)
                return tags;
            tag.attributes.emplace_back(xml.substr(pos, attributeEnd - pos),
                                        xml.substr(quote + 1, close - quote - 1));
            pos = skipBlanks(close + 1);
        }
        if (!tag.name.empty())
            tags.push_back(std::move(tag));
        at = pos;
    }
    return tags;
}

std::vector<std::string> CheckManifest(const std::string& manifest,
                                       const std::string& architecture)
{
    std::vector<std::string> problems;
    const std::vector<XmlTag> tags = StartTags(manifest);
    if (tags.empty() || tags.front().name != "assembly")
        problems.push_back("manifest is no assembly");

    std::vector<const XmlTag*> levels;
    std::vector<std::string> systems;
    for (const XmlTag& tag : tags) {
        if (tag.name == "requestedExecutionLevel")
            levels.push_back(&tag);
        else if (tag.name == "supportedOS")
            systems.push_back(Lower(tag.Get("Id")));
        else if (tag.name == "assemblyIdentity" && tag.Has("processorArchitecture")) {
            const std::string named = tag.Get("processorArchitecture");
            if (architecture.empty())
                problems.push_back("a machine no manifest architecture is known for");
            else if (named != architecture && named != "*")
                problems.push_back("processorArchitecture " + Quoted(named) + ", not " +
                                   Quoted(architecture));
        }
    }

    if (levels.empty()) {
        problems.push_back("no requestedExecutionLevel");
    } else if (levels.size() > 1) {
        problems.push_back("more than one requestedExecutionLevel");
    } else {
        if (levels.front()->Get("level") != "asInvoker")
            problems.push_back("execution level " + Quoted(levels.front()->Get("level")) +
                               ", not \"asInvoker\"");
        if (levels.front()->Has("uiAccess") && levels.front()->Get("uiAccess") != "false")
            problems.push_back("uiAccess " + Quoted(levels.front()->Get("uiAccess")));
    }
    for (const auto& system : kSupportedSystems)
        if (std::find(systems.begin(), systems.end(), system.id) == systems.end())
            problems.push_back(std::string("no supportedOS entry for ") + system.system);
    return problems;
}

std::vector<std::string> CheckVersion(const VersionResource& version,
                                      const std::string& dottedVersion,
                                      const std::string& fileName, bool isLibrary)
{
    if (!version.present)
        return {"no version resource"};
    std::vector<std::string> problems;
    uint32_t numbers[4] = {};
    if (!VersionNumbers(dottedVersion, numbers))
        return {"expected version " + Quoted(dottedVersion) + " is not four numbers"};
    const uint32_t ms = numbers[0] << 16 | numbers[1];
    const uint32_t ls = numbers[2] << 16 | numbers[3];
    if (version.fileVersionMs != ms || version.fileVersionLs != ls)
        problems.push_back("fixed file version " +
                           FixedText(version.fileVersionMs, version.fileVersionLs));
    if (version.productVersionMs != ms || version.productVersionLs != ls)
        problems.push_back("fixed product version " +
                           FixedText(version.productVersionMs, version.productVersionLs));
    if (version.fileType != (isLibrary ? kLibraryFileType : kProgramFileType))
        problems.push_back("file type " + std::to_string(version.fileType) + " for a " +
                           (isLibrary ? "library" : "program"));
    if (!version.translated) {
        problems.push_back("no Translation naming its texts");
        return problems;
    }

    if (version.fileVersion != dottedVersion)
        problems.push_back("FileVersion " + Quoted(version.fileVersion));
    if (version.productVersion != dottedVersion)
        problems.push_back("ProductVersion " + Quoted(version.productVersion));
    const struct {
        const std::string& text;
        const char* name;
    } required[] = {
        {version.productName, "ProductName"},         {version.companyName, "CompanyName"},
        {version.fileDescription, "FileDescription"}, {version.internalName, "InternalName"},
        {version.legalCopyright, "LegalCopyright"},
    };
    for (const auto& field : required)
        if (field.text.empty())
            problems.push_back(std::string("no ") + field.name);
    // File names are compared as Windows does, regardless of case.
    if (Lower(version.originalFilename) != Lower(fileName))
        problems.push_back("OriginalFilename " + Quoted(version.originalFilename));
    return problems;
}

std::vector<std::string> CheckFile(const FileResources& file, const std::string& fileName,
                                   const std::string& dottedVersion)
{
    std::vector<std::string> problems;
    if (!file.header.isLibrary) {
        if (!file.hasManifest)
            problems.push_back("no manifest");
        else
            problems = CheckManifest(file.manifest, ManifestArchitecture(file.header.machine));
    }
    for (std::string& problem :
         CheckVersion(file.version, dottedVersion, fileName, file.header.isLibrary))
        problems.push_back(std::move(problem));
    return problems;
}

}  // namespace resource_check
