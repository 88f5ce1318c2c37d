// tests/proxy/injection_test.cpp
// How the library gets into programs, end to end: from a folder the ANSI
// code page cannot spell, into children whose parent is covered (also when
// they cannot read client.db themselves), never leaving a program running
// uncovered when the library is missing or broken, and with wide arguments
// passed on intact.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "framework/handles.h"
#include "injection/component_files.h"
#include "store/config_db.h"
#include "tests/e2e/process.h"
#include "tests/e2e/window_driver.h"
#include "tests/proxy/proxy_case.h"

namespace {

using Lines = std::vector<std::string>;

constexpr DWORD kPatienceMs = 60000;
constexpr DWORD kExitNotAttached = 0x4B520003;

std::wstring Wide(const std::string& ansi)
{
    std::wstring wide(ansi.size() + 1, L'\0');
    const int length =
        MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<std::size_t>(length - 1) : 0);
    return wide;
}

std::string FileName(const std::string& path)
{
    return path.substr(path.find_last_of('\\') + 1);
}

// Starts `program` with a wide command line and returns its exit code, or
// STILL_ACTIVE when it had to be ended for taking too long.
DWORD RunWide(const std::wstring& program, const std::wstring& arguments)
{
    std::wstring line = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return static_cast<DWORD>(-1);
    const UniqueKernelHandle process(info.hProcess);
    const UniqueKernelHandle thread(info.hThread);
    if (WaitForSingleObject(process.Get(), kPatienceMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.Get(), STILL_ACTIVE);
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.Get(), &code);
    return code;
}

class InjectionCase : public ProxyCase {
protected:
    std::string Seven() const { return "blocking " + TestNetwork().address + " 7"; }
    std::string Hook() const
    {
        const std::wstring name = injection::kHookLibraryFile;
        return Program(std::string(name.begin(), name.end()));
    }
};

TEST_F(InjectionCase, AFolderTheAnsiCodePageCannotSpellStillCoversPrograms)
{
    Configure(Relay());
    const std::wstring folder = Wide(m_folder) + L"\\Zo\u00EB \u96EA";
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, 0, folder.c_str(), -1, nullptr, 0, nullptr, &lossy);
    EXPECT_TRUE(lossy) << "the ANSI code page spells the folder: the case proves nothing";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    for (const std::string& file : {Launcher(), Hook(), Db()}) {
        ASSERT_TRUE(
            CopyFileW(Wide(file).c_str(), (folder + L"\\" + Wide(FileName(file))).c_str(), FALSE))
            << file;
    }
    const std::wstring launcher = folder + L"\\" + Wide(FileName(Launcher()));
    const std::string result = ResultFile("result");
    const DWORD code = RunWide(launcher, L"-wait \"" + Wide(Program("client.exe")) + L"\" \"" +
                                             Wide(result) + L"\" " + Wide(Seven()));
    EXPECT_EQ(0u, code);
    const Lines lines = ReadLines(result);
    ASSERT_EQ(1u, lines.size());
    EXPECT_TRUE(ParseResult(lines[0]).ok) << lines[0];
    EXPECT_EQ(1u, RelayLog().size());
}

TEST_F(InjectionCase, AnUnlistedChildOfAListedProgramIsCovered)
{
    const std::string parent = CopyClient("listed parent.exe");
    const std::string child = CopyClient("unlisted child.exe");
    Configure(Relay(), "1", "ProgramList");
    CConfigDb db;
    db.SetDbPath(Db());
    ASSERT_TRUE(db.AddApp(parent));
    // Every way of starting a child: CreateProcessA, CreateProcessW, a child
    // the program asked to have suspended (resumed by the program), and
    // CreateProcessAsUserW.
    const char* const spawns[] = {"spawn", "spawnw", "spawnsuspended", "spawnasuser"};
    for (const char* spawn : spawns) {
        SCOPED_TRACE(spawn);
        const std::string childResult = ResultFile(std::string("child-") + spawn);
        const Lines lines =
            RunClient(std::string(spawn) + " \"" + child + "\" \"" + childResult + "\" " + Seven(),
                      true, "", parent);
        ASSERT_EQ(1u, lines.size());
        EXPECT_EQ("spawned 0", lines[0]);
        const Lines childLines = ReadLines(childResult);
        ASSERT_EQ(1u, childLines.size());
        EXPECT_TRUE(ParseResult(childLines[0]).ok) << childLines[0];
    }
    EXPECT_EQ(std::size(spawns), RelayLog().size());
    // Started on its own it is not covered: its direct connect is refused.
    const Lines alone = RunClient(Seven(), true, "", child);
    ASSERT_EQ(1u, alone.size());
    EXPECT_EQ(WSAECONNREFUSED, ParseResult(alone[0]).error);
    EXPECT_EQ(std::size(spawns), RelayLog().size());
}

TEST_F(InjectionCase, AChildThatCannotReadTheDatabaseUsesItsCoveredParentsSettings)
{
    enum class Damage { Locked, Missing, Garbage };
    struct Variant {
        const char* what;
        Damage damage;
        bool otherWidth;
    };
    const Variant variants[] = {
        {"locked", Damage::Locked, false},
        {"missing", Damage::Missing, false},
        {"not a database", Damage::Garbage, false},
        {"locked, child of the other width", Damage::Locked, true},
    };
    for (const Variant& variant : variants) {
        SCOPED_TRACE(variant.what);
        if (variant.otherWidth && !HaveOtherWidth())
            continue;
        std::remove(Db().c_str());
        Configure(Relay());
        const std::string child =
            variant.otherWidth ? CopyClient("other-width.exe", true) : Program("client.exe");
        const std::string event = "KestrelInjectionTestGo";
        const UniqueKernelHandle go(CreateEventA(nullptr, TRUE, FALSE, event.c_str()));
        const std::string result = ResultFile("result");
        const std::string childResult = ResultFile("child");
        DeleteFileA(result.c_str());
        DeleteFileA(childResult.c_str());
        const std::size_t relayed = RelayLog().size();
        e2e::Process parent(Launcher(),
                            "-wait \"" + Program("client.exe") + "\" \"" + result +
                                "\" spawnafter " + event + " \"" + child + "\" \"" + childResult +
                                "\" " + Seven(),
                            m_folder);
        ASSERT_TRUE(parent.Started());
        // The parent has read client.db once its own code runs.
        ASSERT_TRUE(e2e::WaitUntil(
            [&] { return GetFileAttributesA(result.c_str()) != INVALID_FILE_ATTRIBUTES; },
            kPatienceMs));
        std::unique_ptr<ExclusiveLock> lock;
        if (variant.damage == Damage::Locked) {
            lock = std::make_unique<ExclusiveLock>(Db());
            ASSERT_TRUE(lock->Held());
        } else {
            ASSERT_TRUE(DeleteFileA(Db().c_str()));
            if (variant.damage == Damage::Garbage)
                std::ofstream(Db(), std::ios::binary) << std::string(4096, 'x');
        }
        SetEvent(go.Get());
        ASSERT_TRUE(parent.WaitForExit(kPatienceMs));
        lock.reset();
        EXPECT_EQ(Lines{"spawned 0"}, ReadLines(result));
        const Lines childLines = ReadLines(childResult);
        ASSERT_EQ(1u, childLines.size());
        EXPECT_TRUE(ParseResult(childLines[0]).ok) << childLines[0];
        EXPECT_EQ(relayed + 1, RelayLog().size());
    }
    EXPECT_TRUE(DirectLog().empty());
}

TEST_F(InjectionCase, AMissingOrBrokenLibraryEndsTheProgramBeforeItRuns)
{
    struct Variant {
        const char* what;
        const char* contents;  // null: no file; "client": a module without the start function
    };
    const Variant variants[] = {
        {"missing", nullptr},
        {"not a library", "MZ garbage, not a portable executable"},
        {"no start function", "client"},
    };
    Configure(Relay());
    for (const Variant& variant : variants) {
        SCOPED_TRACE(variant.what);
        DeleteFileA(Hook().c_str());
        if (variant.contents != nullptr && std::string(variant.contents) == "client")
            ASSERT_TRUE(CopyFileA(Program("client.exe").c_str(), Hook().c_str(), FALSE));
        else if (variant.contents != nullptr)
            std::ofstream(Hook(), std::ios::binary) << variant.contents;
        const std::string result = ResultFile("result");
        DeleteFileA(result.c_str());
        // The echo on the test address would answer a direct connect.
        e2e::Process run(Launcher(),
                         "-wait \"" + Program("client.exe") + "\" \"" + result + "\" blocking " +
                             TestNetwork().address + " " + std::to_string(TestNetwork().echoPort),
                         m_folder);
        ASSERT_TRUE(run.Started());
        ASSERT_TRUE(run.WaitForExit(kPatienceMs));
        EXPECT_EQ(kExitNotAttached, run.ExitCode());
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(result.c_str()))
            << "the program's own code ran";
    }
    EXPECT_TRUE(DirectLog().empty());
    EXPECT_TRUE(RelayLog().empty());
}

TEST_F(InjectionCase, ArgumentsOutsideTheAnsiCodePageArriveIntact)
{
    Configure(Relay());
    // "Zoë ☃ 雪": the first two cannot be spelled in code page 936.
    const std::wstring text = L"Zo\u00EB \u2603 \u96EA";
    const std::string utf8 = "Zo\xC3\xAB \xE2\x98\x83 \xE9\x9B\xAA";
    const std::string result = ResultFile("result");
    const DWORD code =
        RunWide(Wide(Launcher()), L"-wait \"" + Wide(Program("client.exe")) + L"\" \"" +
                                      Wide(result) + L"\" echoarg \"" + text + L"\"");
    EXPECT_EQ(0u, code);
    EXPECT_EQ(Lines{utf8}, ReadLines(result));
}

}  // namespace
