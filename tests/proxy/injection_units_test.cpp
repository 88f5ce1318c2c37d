// tests/proxy/injection_units_test.cpp
// The pieces of starting a program with the library, without a program: the
// start stub's machine code run here against stand-ins, the handoff's text
// form, the coverage rule and the launcher's command line.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "hook/coverage.h"
#include "injection/handoff.h"
#include "injection/start_block.h"
#include "injection/start_stub.h"
#include "launcher/run_command_line.h"

namespace {

// What the stand-ins for the kernel functions and the start function saw.
struct StubRun {
    HMODULE loaded = nullptr;  // what LoadLibraryW returns
    bool procFound = true;     // GetProcAddress finds the start function
    BOOL started = TRUE;       // what the start function returns
    std::wstring loadedPath;
    std::string lookedUp;
    HMODULE lookedUpIn = nullptr;
    const injection::StartBlock* startedWith = nullptr;
    bool stackAligned = true;
    bool terminated = false;
    HANDLE terminatedProcess = nullptr;
    UINT exitCode = 0;
};
StubRun* g_run = nullptr;

HMODULE WINAPI FakeLoadLibraryW(LPCWSTR path)
{
    g_run->loadedPath = path;
    return g_run->loaded;
}

BOOL __cdecl FakeStart(const injection::StartBlock* block)
{
    g_run->startedWith = block;
    // Win64 calls are made with rsp 16-byte aligned, so a callee's frame
    // (after the pushed return address) is too.
    alignas(16) volatile char probe[16] = {};
    g_run->stackAligned = (reinterpret_cast<std::uintptr_t>(probe) & 15) == 0;
    return g_run->started;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name)
{
    g_run->lookedUpIn = module;
    g_run->lookedUp = name;
    return g_run->procFound ? reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeStart))
                            : nullptr;
}

BOOL WINAPI FakeTerminateProcess(HANDLE process, UINT code)
{
    g_run->terminated = true;
    g_run->terminatedProcess = process;
    g_run->exitCode = code;
    return TRUE;
}

// The stub in executable memory of this process, called as the system calls
// an APC routine.
class ExecutableStub {
public:
    ExecutableStub()
        : m_code(VirtualAlloc(nullptr, injection::StartStubSize(), MEM_COMMIT | MEM_RESERVE,
                              PAGE_READWRITE))
    {
        DWORD previous = 0;
        if (m_code != nullptr) {
            std::memcpy(m_code, injection::StartStubCode(), injection::StartStubSize());
            VirtualProtect(m_code, injection::StartStubSize(), PAGE_EXECUTE_READ, &previous);
        }
    }
    ~ExecutableStub()
    {
        if (m_code != nullptr)
            VirtualFree(m_code, 0, MEM_RELEASE);
    }
    ExecutableStub(const ExecutableStub&) = delete;
    ExecutableStub& operator=(const ExecutableStub&) = delete;

    bool Ready() const { return m_code != nullptr; }
    void Call(const injection::StartBlock& block) const
    {
        reinterpret_cast<PAPCFUNC>(m_code)(reinterpret_cast<ULONG_PTR>(&block));
    }

private:
    void* m_code;
};

TEST(StartStub, LoadsFindsAndStartsOrEndsTheProcess)
{
    const HMODULE library = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x10000));
    struct Variant {
        const char* what;
        HMODULE loaded;
        bool procFound;
        BOOL started;
        bool lookedUp;
        bool startCalled;
        bool terminated;
    };
    const Variant variants[] = {
        {"started", library, true, TRUE, true, true, false},
        {"library not loaded", nullptr, true, TRUE, false, false, true},
        {"no start function", library, false, TRUE, true, false, true},
        {"start refused", library, true, FALSE, true, true, true},
    };
    ExecutableStub stub;
    ASSERT_TRUE(stub.Ready());
    for (const Variant& variant : variants) {
        SCOPED_TRACE(variant.what);
        const auto block = std::make_unique<injection::StartBlock>();
        block->loadLibraryW = reinterpret_cast<void*>(&FakeLoadLibraryW);
        block->getProcAddress = reinterpret_cast<void*>(&FakeGetProcAddress);
        block->terminateProcess = reinterpret_cast<void*>(&FakeTerminateProcess);
        ASSERT_TRUE(injection::FillStartBlock(*block, L"C:\\Zo\u00EB\\KestrelHook.dll",
                                              injection::Handoff{}, 0));
        StubRun run;
        run.loaded = variant.loaded;
        run.procFound = variant.procFound;
        run.started = variant.started;
        g_run = &run;
        stub.Call(*block);
        g_run = nullptr;
        EXPECT_EQ(L"C:\\Zo\u00EB\\KestrelHook.dll", run.loadedPath);
        EXPECT_EQ(variant.lookedUp ? "KestrelStart" : "", run.lookedUp);
        EXPECT_EQ(variant.lookedUp ? library : nullptr, run.lookedUpIn);
        EXPECT_EQ(variant.startCalled ? block.get() : nullptr, run.startedWith);
        EXPECT_TRUE(run.stackAligned);
        EXPECT_EQ(variant.terminated, run.terminated);
        if (variant.terminated) {
            EXPECT_EQ(GetCurrentProcess(), run.terminatedProcess);
            EXPECT_EQ(injection::kExitLibraryNotStarted, run.exitCode);
        }
    }
}

injection::Handoff Server(bool covered, const std::string& user, const std::string& password)
{
    injection::Handoff handoff;
    handoff.parentCovered = covered;
    handoff.enabled = true;
    handoff.serverUsable = true;
    handoff.address = {203, 0, 113, 10};
    handoff.port = 1080;
    handoff.type = 5;
    handoff.user = user;
    handoff.password = password;
    return handoff;
}

TEST(Handoff, CarriesEverythingThroughTextAndTheBlock)
{
    const injection::Handoff variants[] = {
        injection::Handoff{},
        Server(true, "", ""),
        Server(true, "user \"with\" quotes", std::string("pass\0word\xFF", 10)),
        Server(false, std::string(injection::kMaxCarriedText, 'u'), "p"),
        [] {
            injection::Handoff shell = Server(false, "u", "p");
            shell.resident = true;
            shell.configFolder = L"C:\\Users\\\u7528\u6237\\Kestrel \u00e9";
            return shell;
        }(),
    };
    for (const injection::Handoff& handoff : variants) {
        SCOPED_TRACE(handoff.user);
        const std::string text = injection::EncodeHandoff(handoff);
        EXPECT_EQ(std::string::npos, text.find_first_not_of("0123456789abcdef")) << text;
        injection::Handoff decoded;
        ASSERT_TRUE(injection::DecodeHandoff(text, decoded));
        const auto block = std::make_unique<injection::StartBlock>();
        ASSERT_TRUE(injection::FillStartBlock(*block, L"x.dll", decoded, 0));
        const injection::Handoff fromBlock = injection::HandoffFromBlock(*block);
        const injection::Handoff* const reads[] = {&decoded, &fromBlock};
        for (const injection::Handoff* read : reads) {
            EXPECT_EQ(handoff.parentCovered, read->parentCovered);
            EXPECT_EQ(handoff.enabled, read->enabled);
            EXPECT_EQ(handoff.serverUsable, read->serverUsable);
            EXPECT_EQ(handoff.address, read->address);
            EXPECT_EQ(handoff.port, read->port);
            EXPECT_EQ(handoff.type, read->type);
            EXPECT_EQ(handoff.user, read->user);
            EXPECT_EQ(handoff.password, read->password);
            EXPECT_EQ(handoff.resident, read->resident);
            EXPECT_TRUE(handoff.configFolder == read->configFolder);
        }
    }
}

TEST(Handoff, AnOverLongLoginIsCarriedAsAnUnusableServer)
{
    injection::Handoff decoded;
    ASSERT_TRUE(
        injection::DecodeHandoff(injection::EncodeHandoff(Server(
                                     true, std::string(injection::kMaxCarriedText + 1, 'u'), "p")),
                                 decoded));
    EXPECT_TRUE(decoded.parentCovered);
    EXPECT_FALSE(decoded.serverUsable);
    EXPECT_TRUE(decoded.user.empty());
}

TEST(Handoff, RejectsTextItCannotHaveMade)
{
    const std::string good = injection::EncodeHandoff(Server(true, "ab", "cd"));
    const std::string variants[] = {
        "",
        good.substr(0, good.size() - 2),        // cut short
        good + "00",                            // trailing bytes
        "10" + good.substr(2),                  // an unknown flag
        std::string(good).replace(4, 1, "g"),   // not a hex digit
        std::string(good).replace(0, 2, "0A"),  // upper case is never written
    };
    for (const std::string& text : variants) {
        SCOPED_TRACE(text);
        injection::Handoff decoded;
        EXPECT_FALSE(injection::DecodeHandoff(text, decoded));
    }
}

TEST(Coverage, FollowsTheDatabaseThenTheParent)
{
    hook::HookConfig on;
    on.enabled = true;
    on.server.usable = true;
    on.server.endpoint.port = 1081;
    hook::HookConfig all = on;
    all.allPrograms = true;
    const hook::HookConfig off;
    const injection::Handoff parentCovered = Server(true, "parent", "");
    const injection::Handoff launcher;
    struct Variant {
        const char* what;
        const hook::HookConfig* config;  // null: client.db unreadable
        bool listed;
        const injection::Handoff* parent;
        bool covered;
        int port;  // of the server used when covered
    };
    const Variant variants[] = {
        {"all programs", &all, false, &launcher, true, 1081},
        {"listed", &on, true, &launcher, true, 1081},
        {"not listed", &on, false, &launcher, false, 0},
        {"not listed, parent covered", &on, false, &parentCovered, true, 1081},
        {"off, parent covered", &off, false, &parentCovered, false, 0},
        {"unreadable, parent covered", nullptr, false, &parentCovered, true, 1080},
        {"unreadable, from the launcher", nullptr, false, &launcher, false, 0},
    };
    for (const Variant& variant : variants) {
        SCOPED_TRACE(variant.what);
        const hook::Coverage coverage =
            hook::DecideCoverage(variant.config, variant.listed, *variant.parent);
        EXPECT_EQ(variant.covered, coverage.covered);
        if (variant.covered) {
            EXPECT_TRUE(coverage.server.usable);
            EXPECT_EQ(variant.port, coverage.server.endpoint.port);
        }
    }
    const injection::Handoff children =
        hook::HandoffForChildren(hook::DecideCoverage(nullptr, false, parentCovered).server);
    EXPECT_TRUE(children.parentCovered);
    EXPECT_EQ("parent", children.user);
    EXPECT_EQ(parentCovered.address, children.address);
}

TEST(RunCommandLine, ReadsBothWidthsAlike)
{
    struct Variant {
        const wchar_t* line;
        launcher::RunMode mode;
        bool wait;
        const wchar_t* program;
        unsigned long processId;
        std::uint64_t readyEvent;
        const char* handoff;
    };
    const Variant variants[] = {
        {L"run.exe app.exe --x", launcher::RunMode::Run, false, L"app.exe --x", 0, 0, ""},
        {L"\"C:\\K R\\run.exe\"  -wait  \"C:\\Zo\u00EB\\a.exe\" \u96EA", launcher::RunMode::Run,
         true, L"\"C:\\Zo\u00EB\\a.exe\" \u96EA", 0, 0, ""},
        {L"run.exe -wait", launcher::RunMode::Invalid, true, L"", 0, 0, ""},
        {L"run.exe", launcher::RunMode::Invalid, false, L"", 0, 0, ""},
        {L"run.exe -attach 12 34 5678 0a0b", launcher::RunMode::Attach, false, L"", 12, 5678,
         "0a0b"},
        {L"run.exe -attach 4294967295 1 18446744073709551615 00", launcher::RunMode::Attach, false,
         L"", 4294967295ul, ~0ull, "00"},
        {L"run.exe -attach 4294967296 1 2 00", launcher::RunMode::Invalid, false, L"", 0, 0, ""},
        {L"run.exe -attach 1 2 18446744073709551616 00", launcher::RunMode::Invalid, false, L"", 1,
         0, ""},
        {L"run.exe -attach 1 2 3", launcher::RunMode::Invalid, false, L"", 1, 3, ""},
        {L"run.exe -attach 1 2 3 0A", launcher::RunMode::Invalid, false, L"", 1, 3, ""},
        {L"run.exe -attach 1 2 3 00 extra", launcher::RunMode::Invalid, false, L"", 1, 3, "00"},
        {L"run.exe -shell 4242 0a0b", launcher::RunMode::Shell, false, L"", 4242, 0, "0a0b"},
        {L"run.exe -shell 4242", launcher::RunMode::Invalid, false, L"", 4242, 0, ""},
        {L"run.exe -shell 4242 0a0b 1", launcher::RunMode::Invalid, false, L"", 4242, 0, "0a0b"},
    };
    for (const Variant& variant : variants) {
        const std::wstring wideLine = variant.line;
        SCOPED_TRACE(std::string(wideLine.begin(), wideLine.end()));
        const launcher::WideRunRequest wide = launcher::ParseRunCommandLine(wideLine);
        EXPECT_EQ(variant.mode, wide.mode);
        EXPECT_EQ(variant.wait, wide.wait);
        EXPECT_EQ(variant.program, wide.programLine);
        if (variant.mode == launcher::RunMode::Attach || variant.mode == launcher::RunMode::Shell) {
            EXPECT_EQ(variant.processId, wide.processId);
            EXPECT_EQ(variant.readyEvent, wide.readyEvent);
            EXPECT_EQ(variant.handoff, wide.handoff);
        }
        // The narrow form reads ASCII lines the same way.
        if (wideLine.find_first_not_of(L" -\"\\.:0123456789abcdefghijklmnopqrstuvwxyzACKR") ==
            std::wstring::npos) {
            const launcher::RunRequest narrow =
                launcher::ParseRunCommandLine(std::string(wideLine.begin(), wideLine.end()));
            EXPECT_EQ(wide.mode, narrow.mode);
            EXPECT_EQ(wide.wait, narrow.wait);
            EXPECT_EQ(std::string(wide.programLine.begin(), wide.programLine.end()),
                      narrow.programLine);
            EXPECT_EQ(wide.handoff, narrow.handoff);
        }
    }
}

}  // namespace
