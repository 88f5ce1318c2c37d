// package/resource_checks.h
// What a shipped file must carry, judged from what was read out of it: a
// manifest that asks for no elevation and names the supported systems (for
// programs), and a version resource that matches VERSION. Knows nothing of
// how the file was read, so it is tested on made-up input as well.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace resource_check {

// VERSION's text in the four-part form of a version resource ("0.1" gives
// "0.1.0.0"); empty unless it is one to four numbers of at most 65535.
std::string DottedFourPart(const std::string& versionText);

// The start of a PE file: its processor and whether it is a library.
struct PeHeader {
    uint16_t machine = 0;
    bool isLibrary = false;
};
bool ParsePeHeader(const std::string& bytes, PeHeader& header);
// processorArchitecture in a manifest for the machine; empty for one no
// build makes.
std::string ManifestArchitecture(uint16_t machine);

// One start tag of an XML text. The names drop any namespace prefix
// ("ms_asmv2:requestedExecutionLevel"): a manifest may spell them either way.
struct XmlTag {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;

    bool Has(const std::string& attribute) const;
    std::string Get(const std::string& attribute) const;
};
// The start tags in document order; comments, declarations and end tags are
// skipped.
std::vector<XmlTag> StartTags(const std::string& xml);

struct VersionResource {
    bool present = false;
    // VS_FIXEDFILEINFO: what Windows compares; the texts are what it shows.
    uint32_t fileVersionMs = 0;
    uint32_t fileVersionLs = 0;
    uint32_t productVersionMs = 0;
    uint32_t productVersionLs = 0;
    uint32_t fileType = 0;
    // A Translation entry that names a block of texts the file holds.
    bool translated = false;
    std::string fileVersion;
    std::string productVersion;
    std::string productName;
    std::string companyName;
    std::string fileDescription;
    std::string originalFilename;
    std::string internalName;
    std::string legalCopyright;
};

struct FileResources {
    PeHeader header;
    bool hasManifest = false;
    std::string manifest;
    VersionResource version;
};

// Each returns the problems found, a short phrase each; none means fine.
std::vector<std::string> CheckManifest(const std::string& manifest,
                                       const std::string& architecture);
std::vector<std::string> CheckVersion(const VersionResource& version,
                                      const std::string& dottedVersion,
                                      const std::string& fileName, bool isLibrary);
// The whole file: a program's manifest and either's version resource.
std::vector<std::string> CheckFile(const FileResources& file, const std::string& fileName,
                                   const std::string& dottedVersion);

}  // namespace resource_check
