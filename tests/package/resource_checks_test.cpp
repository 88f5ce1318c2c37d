// tests/package/resource_checks_test.cpp
// The manifest and version checks on made-up input, then on this build's own
// shipped files as the package probe reads them.
#include <windows.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package/resource_checks.h"
#include "package/resource_reader.h"

using namespace resource_check;

namespace {

// A program's manifest as the builds write it, with two markers to replace.
const char kGoodManifest[] = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity name="KestrelTray.exe" type="win32" version="0.1.0.0"
      processorArchitecture="x86"/>
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel LEVEL/>
      </requestedPrivileges>
    </security>
  </trustInfo>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">
    <application>
      <supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>
      <supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>
      <supportedOS Id="WINDOWS_8_1"/>
      <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>
    </application>
  </compatibility>
</assembly>
)";

std::string Manifest(const std::string& level = R"(level="asInvoker" uiAccess="false")",
                     const std::string& windows81 = "{1f676c76-80e1-4239-95bb-83d0f6d0da78}")
{
    std::string text = kGoodManifest;
    text.replace(text.find("LEVEL"), 5, level);
    text.replace(text.find("WINDOWS_8_1"), 11, windows81);
    return text;
}

VersionResource GoodVersion()
{
    VersionResource version;
    version.present = true;
    version.fileVersionMs = version.productVersionMs = 0x00000001;
    version.fileVersionLs = version.productVersionLs = 0;
    version.fileType = 1;  // VFT_APP
    version.translated = true;
    version.fileVersion = version.productVersion = "0.1.0.0";
    version.productName = "Kestrel";
    version.companyName = "Kestrel";
    version.fileDescription = "Kestrel tray";
    version.originalFilename = "KestrelTray.exe";
    version.internalName = "KestrelTray";
    version.legalCopyright = "Copyright (C) 2026 Kestrel";
    return version;
}

std::string PeBytes(uint16_t machine, uint16_t characteristics)
{
    std::string bytes(0x200, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3c] = char(0x80);
    bytes.replace(0x80, 4, std::string("PE\0\0", 4));
    bytes[0x84] = char(machine & 0xff);
    bytes[0x85] = char(machine >> 8);
    bytes[0x96] = char(characteristics & 0xff);
    bytes[0x97] = char(characteristics >> 8);
    return bytes;
}

std::wstring Wide(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &wide[0], size);
    return wide;
}

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::vector<std::wstring> ShippedFiles()
{
    std::vector<std::wstring> files;
    std::istringstream list(Environment("KESTREL_SHIPPED_FILES"));
    for (std::string path; std::getline(list, path, '|');)
        if (!path.empty())
            files.push_back(Wide(path));
    return files;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(DottedFourPart, FillsVersionTextUpToFourNumbers)
{
    EXPECT_EQ(DottedFourPart("0.1"), "0.1.0.0");
    EXPECT_EQ(DottedFourPart("2"), "2.0.0.0");
    EXPECT_EQ(DottedFourPart("1.2.3"), "1.2.3.0");
    EXPECT_EQ(DottedFourPart("1.2.3.4"), "1.2.3.4");
    EXPECT_EQ(DottedFourPart(" 0.1\r\n"), "0.1.0.0");
    EXPECT_EQ(DottedFourPart("65535.0"), "65535.0.0.0");
    for (const char* text : {"", " ", "a", "1.", ".1", "1..2", "1.2.3.4.5", "65536", "0.1-beta",
                             "1 .2", "+1", "0x10"})
        EXPECT_EQ(DottedFourPart(text), "") << "'" << text << "'";
}

TEST(PeHeader, TellsMachineAndLibraryFromTheFileHeader)
{
    PeHeader header;
    ASSERT_TRUE(ParsePeHeader(PeBytes(0x014c, 0x0102), header));
    EXPECT_EQ(header.machine, 0x014c);
    EXPECT_FALSE(header.isLibrary);
    ASSERT_TRUE(ParsePeHeader(PeBytes(0x8664, 0x2022), header));
    EXPECT_EQ(header.machine, 0x8664);
    EXPECT_TRUE(header.isLibrary);

    std::string noSignature = PeBytes(0x014c, 0x0102);
    noSignature[0x81] = 'X';
    std::string beyondTheEnd = PeBytes(0x014c, 0x0102);
    beyondTheEnd[0x3d] = 0x10;
    for (const std::string& bytes : {std::string(), std::string("MZ"), noSignature, beyondTheEnd,
                                     "ZM" + PeBytes(0x014c, 0x0102).substr(2),
                                     PeBytes(0x014c, 0x0102).substr(0, 0x90)})
        EXPECT_FALSE(ParsePeHeader(bytes, header)) << bytes.size();

    EXPECT_EQ(ManifestArchitecture(0x014c), "x86");
    EXPECT_EQ(ManifestArchitecture(0x8664), "amd64");
    EXPECT_EQ(ManifestArchitecture(0xaa64), "");
}

TEST(StartTags, ReadsNamesAndAttributesAsAManifestSpellsThem)
{
    const std::vector<XmlTag> tags = StartTags(R"(<?xml version="1.0"?>
<!-- <requestedExecutionLevel level="requireAdministrator"/> -->
<a:assembly xmlns:a="urn:x" >
  <ms_asmv2:requestedExecutionLevel level = 'asInvoker'
      uiAccess="false" />
  <description>text</description>
  <empty/>
</a:assembly>)");
    ASSERT_EQ(tags.size(), 4u);
    EXPECT_EQ(tags[0].name, "assembly");
    EXPECT_EQ(tags[0].Get("xmlns:a"), "urn:x");
    EXPECT_EQ(tags[1].name, "requestedExecutionLevel");
    EXPECT_EQ(tags[1].Get("level"), "asInvoker");
    EXPECT_EQ(tags[1].Get("uiAccess"), "false");
    EXPECT_FALSE(tags[1].Has("Level"));
    EXPECT_EQ(tags[2].name, "description");
    EXPECT_TRUE(tags[2].attributes.empty());
    EXPECT_EQ(tags[3].name, "empty");

    // Cut off anywhere, it stops at the end of the text.
    const std::string manifest = Manifest();
    ASSERT_EQ(StartTags(manifest).size(), 12u);
    for (size_t length = 0; length < manifest.size(); ++length)
        EXPECT_LE(StartTags(manifest.substr(0, length)).size(), 12u) << length;
}

TEST(CheckManifest, AcceptsAsInvokerWithTheFourSystems)
{
    EXPECT_EQ(CheckManifest(Manifest(), "x86"), std::vector<std::string>());
    // uiAccess left out means false; the ids are compared regardless of case.
    EXPECT_EQ(CheckManifest(Manifest(R"(level="asInvoker")",
                                     "{1F676C76-80E1-4239-95BB-83D0F6D0DA78}"),
                            "x86"),
              std::vector<std::string>());
}

TEST(CheckManifest, NamesWhatIsMissingOrWrong)
{
    EXPECT_EQ(CheckManifest(Manifest(R"(level="requireAdministrator" uiAccess="false")"), "x86"),
              std::vector<std::string>{
                  "execution level \"requireAdministrator\", not \"asInvoker\""});
    EXPECT_EQ(CheckManifest(Manifest(R"(level="asInvoker" uiAccess="true")"), "x86"),
              std::vector<std::string>{"uiAccess \"true\""});
    EXPECT_EQ(CheckManifest(Manifest(R"(level="asInvoker")", "{e2011457-1546-43c5-a5fe-008deee3d3f0}"),
                            "x86"),
              std::vector<std::string>{"no supportedOS entry for Windows 8.1"});
    EXPECT_EQ(CheckManifest(Manifest(), "amd64"),
              std::vector<std::string>{"processorArchitecture \"x86\", not \"amd64\""});

    std::string commentedOut = Manifest();
    commentedOut.replace(commentedOut.find("<requestedExecutionLevel"), 1, "<!-- <");
    commentedOut.replace(commentedOut.find("</requestedPrivileges>"), 0, "-->");
    EXPECT_EQ(CheckManifest(commentedOut, "x86"),
              std::vector<std::string>{"no requestedExecutionLevel"});

    std::string twice = Manifest();
    twice.replace(twice.find("</requestedPrivileges>"), 0,
                  R"(<requestedExecutionLevel level="highestAvailable"/>)");
    EXPECT_EQ(CheckManifest(twice, "x86"),
              std::vector<std::string>{"more than one requestedExecutionLevel"});

    const std::vector<std::string> nothing = CheckManifest("not a manifest", "x86");
    EXPECT_EQ(nothing.front(), "manifest is no assembly");
    EXPECT_EQ(nothing.size(), 6u);  // and no level and none of the four systems
}

TEST(CheckVersion, AcceptsTheVersionOfVersionAndTheFilesOwnName)
{
    EXPECT_EQ(CheckVersion(GoodVersion(), "0.1.0.0", "KestrelTray.exe", false),
              std::vector<std::string>());
    EXPECT_EQ(CheckVersion(GoodVersion(), "0.1.0.0", "kestreltray.EXE", false),
              std::vector<std::string>());
    VersionResource library = GoodVersion();
    library.fileType = 2;  // VFT_DLL
    library.originalFilename = "KestrelHook.dll";
    EXPECT_EQ(CheckVersion(library, "0.1.0.0", "KestrelHook.dll", true),
              std::vector<std::string>());
}

TEST(CheckVersion, NamesEachFieldThatDiffers)
{
    EXPECT_EQ(CheckVersion(VersionResource(), "0.1.0.0", "KestrelTray.exe", false),
              std::vector<std::string>{"no version resource"});
    EXPECT_EQ(CheckVersion(GoodVersion(), "0.2.0.0", "KestrelTray.exe", false),
              (std::vector<std::string>{"fixed file version 0.1.0.0",
                                        "fixed product version 0.1.0.0",
                                        "FileVersion \"0.1.0.0\"",
                                        "ProductVersion \"0.1.0.0\""}));
    EXPECT_EQ(CheckVersion(GoodVersion(), "0.1.0.0", "KestrelRun.exe", false),
              std::vector<std::string>{"OriginalFilename \"KestrelTray.exe\""});
    EXPECT_EQ(CheckVersion(GoodVersion(), "0.1.0.0", "KestrelTray.exe", true),
              std::vector<std::string>{"file type 1 for a library"});

    VersionResource blank = GoodVersion();
    blank.companyName.clear();
    blank.fileDescription.clear();
    blank.productVersion = "0.1";
    EXPECT_EQ(CheckVersion(blank, "0.1.0.0", "KestrelTray.exe", false),
              (std::vector<std::string>{"ProductVersion \"0.1\"", "no CompanyName",
                                        "no FileDescription"}));

    VersionResource fixedOnly = GoodVersion();
    fixedOnly.fileVersionLs = 0x00000005;
    fixedOnly.translated = false;
    EXPECT_EQ(CheckVersion(fixedOnly, "0.1.0.0", "KestrelTray.exe", false),
              (std::vector<std::string>{"fixed file version 0.1.0.5",
                                        "no Translation naming its texts"}));
}

TEST(CheckFile, AsksAManifestOfProgramsOnly)
{
    FileResources program;
    program.header.machine = 0x014c;
    program.version = GoodVersion();
    EXPECT_EQ(CheckFile(program, "KestrelTray.exe", "0.1.0.0"),
              std::vector<std::string>{"no manifest"});
    program.hasManifest = true;
    program.manifest = Manifest();
    EXPECT_EQ(CheckFile(program, "KestrelTray.exe", "0.1.0.0"), std::vector<std::string>());
    // The manifest follows the file's own width.
    program.header.machine = 0x8664;
    EXPECT_EQ(CheckFile(program, "KestrelTray.exe", "0.1.0.0"),
              std::vector<std::string>{"processorArchitecture \"x86\", not \"amd64\""});

    FileResources library;
    library.header = {0x8664, true};
    library.version = GoodVersion();
    library.version.fileType = 2;
    library.version.originalFilename = "KestrelHook64.dll";
    EXPECT_EQ(CheckFile(library, "KestrelHook64.dll", "0.1.0.0"), std::vector<std::string>());
}

class ShippedFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_files = ShippedFiles();
        ASSERT_EQ(m_files.size(), 5u) << "KESTREL_SHIPPED_FILES";
        m_dotted = DottedFourPart(Environment("KESTREL_VERSION_TEXT"));
        ASSERT_FALSE(m_dotted.empty()) << "KESTREL_VERSION_TEXT";
    }

    std::vector<std::wstring> m_files;
    std::string m_dotted;
};

TEST_F(ShippedFilesTest, EachCarriesItsManifestAndVersionForThisBuildsWidth)
{
    const uint16_t machine = sizeof(void*) == 8 ? 0x8664 : 0x014c;
    std::set<std::string> descriptions;
    for (const std::wstring& path : m_files) {
        const std::string name = FileNameOf(path);
        FileResources resources;
        std::string error;
        ASSERT_TRUE(ReadFileResources(path, resources, error)) << name << ": " << error;
        EXPECT_EQ(CheckFile(resources, name, m_dotted), std::vector<std::string>()) << name;
        EXPECT_EQ(resources.header.machine, machine) << name;
        EXPECT_EQ(resources.header.isLibrary, name.find(".dll") != std::string::npos) << name;
        EXPECT_EQ(resources.version.productName, "Kestrel") << name;
        descriptions.insert(resources.version.fileDescription);
    }
    // Each says what it is.
    EXPECT_EQ(descriptions.size(), m_files.size());
}

TEST_F(ShippedFilesTest, TheConfigurationProgramKeepsTheRestOfItsManifest)
{
    FileResources resources;
    std::string error;
    ASSERT_TRUE(ReadFileResources(m_files.front(), resources, error)) << error;
    ASSERT_EQ(FileNameOf(m_files.front()), "Kestrel.exe");
    const std::vector<XmlTag> tags = StartTags(resources.manifest);
    std::vector<std::string> identities;
    for (const XmlTag& tag : tags)
        if (tag.name == "assemblyIdentity")
            identities.push_back(tag.Get("name") + " " + tag.Get("version"));
    EXPECT_EQ(identities, (std::vector<std::string>{"Kestrel.exe 5.1.0.0",
                                                    "Microsoft.Windows.Common-Controls 6.0.0.0"}));
    EXPECT_NE(resources.manifest.find("<description>Zorizuzaduz Application</description>"),
              std::string::npos);
}

TEST_F(ShippedFilesTest, AFileWithoutResourcesIsRefused)
{
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    FileResources resources;
    std::string error;
    ASSERT_TRUE(ReadFileResources(self, resources, error)) << error;
    EXPECT_EQ(CheckFile(resources, FileNameOf(self), m_dotted),
              (std::vector<std::string>{"no manifest", "no version resource"}));

    EXPECT_FALSE(ReadFileResources(L"no-such-file.exe", resources, error));
    EXPECT_EQ(error.rfind("cannot be opened", 0), 0u) << error;
}

TEST_F(ShippedFilesTest, TheProbeSaysOneLinePerFileAndFailsOnAnyProblem)
{
    std::ostringstream passed;
    EXPECT_EQ(ProbeFiles(Environment("KESTREL_VERSION_TEXT"), m_files, passed), 0);
    const std::vector<std::string> lines = Lines(passed.str());
    ASSERT_EQ(lines.size(), m_files.size()) << passed.str();
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].rfind("ok   " + FileNameOf(m_files[i]) + ": " + m_dotted, 0), 0u)
            << lines[i];

    // Another version than the files carry fails every one of them.
    std::ostringstream other;
    EXPECT_EQ(ProbeFiles("9.9", m_files, other), 1);
    for (const std::string& line : Lines(other.str()))
        EXPECT_NE(line.find("fixed file version " + m_dotted + "; "), std::string::npos)
            << line;

    // One bad file among good ones is enough.
    std::vector<std::wstring> withMissing = m_files;
    withMissing.insert(withMissing.begin() + 1, L"missing.dll");
    std::ostringstream missing;
    EXPECT_EQ(ProbeFiles(Environment("KESTREL_VERSION_TEXT"), withMissing, missing), 1);
    EXPECT_EQ(Lines(missing.str()).at(1).rfind("FAIL missing.dll: cannot be opened", 0), 0u)
        << missing.str();

    std::ostringstream badVersion;
    EXPECT_EQ(ProbeFiles("0.1-beta", m_files, badVersion), 1);
    EXPECT_EQ(badVersion.str(), "FAIL version \"0.1-beta\" is not one to four numbers\n");
}

}  // namespace
