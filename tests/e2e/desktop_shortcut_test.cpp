// tests/e2e/desktop_shortcut_test.cpp
// The user's own shell starting a program: Wine's explorer.exe, on a virtual
// desktop of its own, starts what a shortcut on that desktop leads to when the
// shortcut is double-clicked with the mouse. With the agent running, that
// program is proxied, with no launcher in between. Runs inside run-isolated's
// namespace, on the test display.
#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/handles.h"
#include "injection/resident_start.h"
#include "tests/e2e/process.h"
#include "tests/e2e/shortcut_file.h"
#include "tests/e2e/text.h"
#include "tests/proxy/proxy_case.h"

namespace {

using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

const char kDesktopName[] = "KestrelShortcuts";
const char kShortcutName[] = "Kestrel test client.lnk";
// What the desktop holder (desktop_holder.cpp) waits on.
const char kHolderStopEvent[] = "Kestrel test desktop holder";
constexpr long long kPatienceMs = 20000;
constexpr long long kClientPatienceMs = 60000;

std::string Path(const char* variable)
{
    const char* value = std::getenv(variable);
    return e2e::WindowsPathFromUnix(value != nullptr ? value : "");
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// How long until `done` held; -1 when it never did within `patienceMs`.
long long MsUntil(const std::function<bool()>& done, long long patienceMs)
{
    for (const auto start = Clock::now(); MsSince(start) < patienceMs;
         std::this_thread::sleep_for(std::chrono::milliseconds(100)))
        if (done())
            return MsSince(start);
    return -1;
}

struct DesktopCloser {
    void operator()(HDESK desktop) const { CloseDesktop(desktop); }
};
using UniqueDesktop = std::unique_ptr<std::remove_pointer_t<HDESK>, DesktopCloser>;

// Runs `work` on a thread of its own attached to the desktop `name`: the
// cursor and the input of that desktop are reached only from there.
bool OnDesktop(const char* name, const std::function<void()>& work)
{
    const UniqueDesktop desktop(OpenDesktopA(name, 0, FALSE, GENERIC_ALL));
    if (!desktop)
        return false;
    bool attached = false;
    std::thread([&] {
        attached = SetThreadDesktop(desktop.get()) != FALSE;
        if (attached)
            work();
    }).join();
    return attached;
}

// Two clicks of the left button at x,y, as the mouse makes them.
bool DoubleClick(int x, int y)
{
    if (!SetCursorPos(x, y))
        return false;
    INPUT clicks[4] = {};
    for (int i = 0; i < 4; ++i) {
        clicks[i].type = INPUT_MOUSE;
        clicks[i].mi.dwFlags = i % 2 == 0 ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    }
    return SendInput(4, clicks, sizeof(INPUT)) == 4;
}

// The .lnk files the desktop shows, from the user's and the common folder.
Lines Shortcuts()
{
    Lines found;
    for (const int folder : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY}) {
        char path[MAX_PATH] = {};
        if (FAILED(SHGetFolderPathA(nullptr, folder, nullptr, 0, path)))
            continue;
        WIN32_FIND_DATAA entry;
        const HANDLE search = FindFirstFileA((std::string(path) + "\\*.lnk").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do
            found.push_back(entry.cFileName);
        while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    return found;
}

class DesktopShortcutCase : public ProxyCase {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ProxyCase::SetUp());
        char folder[MAX_PATH] = {};
        ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(
            nullptr, CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, nullptr, 0, folder)));
        m_shortcut = std::string(folder) + "\\" + kShortcutName;
        DeleteFileA(m_shortcut.c_str());
        const std::string agent = Path("KESTREL_PROXY_AGENT");
        ASSERT_TRUE(CopyFileA(agent.c_str(), Program("KestrelAgent.exe").c_str(), FALSE)) << agent;
    }

    void TearDown() override
    {
        if (m_agent && m_agent->Running()) {
            e2e::Process exit(Program("KestrelAgent.exe"), "-exit", m_folder);
            EXPECT_TRUE(exit.Started() && exit.WaitForExit(10000));
            EXPECT_TRUE(m_agent->WaitForExit(10000)) << "the agent did not end";
        }
        const UniqueKernelHandle holder(OpenEventA(EVENT_MODIFY_STATE, FALSE, kHolderStopEvent));
        if (holder)
            SetEvent(holder.Get());
        DeleteFileA(m_shortcut.c_str());
    }

    std::string m_shortcut;
    std::unique_ptr<e2e::Process> m_agent;
};

TEST_F(DesktopShortcutCase, ADoubleClickedShortcutOnWinesDesktopStartsAProxiedProgram)
{
    Configure(Relay());
    // The desktop lays its shortcuts out in the order its folders list them:
    // only with ours alone is ours the first.
    const std::string result = ResultFile("shortcut");
    const std::string echo =
        TestNetwork().address + " " + std::to_string(TestNetwork().echoPort);
    // The desktop leaves out a shortcut without an icon, and the client has none.
    char system[MAX_PATH] = {};
    ASSERT_NE(0u, GetSystemDirectoryA(system, MAX_PATH));
    ASSERT_TRUE(e2e::MakeShortcut(m_shortcut, Program("client.exe"),
                                  Quoted(result) + " blocking " + echo,
                                  std::string(system) + "\\shell32.dll"));
    ASSERT_EQ(Lines{kShortcutName}, Shortcuts()) << "the desktop shows other shortcuts too";

    // The shell runs before the agent, as at logon; the holder keeps its
    // desktop up.
    e2e::Process shell("C:\\windows\\explorer.exe",
                       std::string("/desktop=") + kDesktopName + ",640x480 " +
                           Quoted(Path("KESTREL_E2E_HOLDER")),
                       m_folder);
    ASSERT_TRUE(shell.Started());
    ASSERT_NE(-1, MsUntil(
                      [] {
                          const UniqueKernelHandle holder(
                              OpenEventA(SYNCHRONIZE, FALSE, kHolderStopEvent));
                          return static_cast<bool>(holder);
                      },
                      kPatienceMs))
        << "Wine's desktop never started its holder";
    EXPECT_FALSE(injection::IsCarrying(shell.Id())) << "the shell carried the library already";

    m_agent = std::make_unique<e2e::Process>(Program("KestrelAgent.exe"), "", m_folder);
    ASSERT_TRUE(m_agent->Started());
    const long long attachedMs =
        MsUntil([&] { return injection::IsCarrying(shell.Id()); }, kPatienceMs);
    ASSERT_NE(-1, attachedMs) << "the agent never put the library into Wine's explorer.exe";
    std::printf("  Wine's explorer.exe carrying after %lld ms\n", attachedMs);

    // The first shortcut's title, under its icon.
    const int x = 14;
    const int y = 8 + GetSystemMetrics(SM_CYICON) + 4 + 6;
    const std::size_t relayed = RelayLog().size();
    const std::size_t direct = DirectLog().size();
    bool clicked = false;
    ASSERT_TRUE(OnDesktop(kDesktopName, [&] { clicked = DoubleClick(x, y); }));
    ASSERT_TRUE(clicked);

    Lines lines;
    MsUntil(
        [&] {
            lines = ReadLines(result);
            return !lines.empty();
        },
        kClientPatienceMs);
    ASSERT_EQ(1u, lines.size()) << "the shortcut's program wrote no result";
    EXPECT_TRUE(ParseResult(lines[0]).ok) << lines[0];
    const Lines relayLog = RelayLog();
    EXPECT_EQ(Lines{RelayLine(kRelayOpen, 5, TestNetwork().address + ":" +
                                                 std::to_string(TestNetwork().echoPort))},
              Lines(relayLog.begin() + static_cast<long>(relayed), relayLog.end()));
    EXPECT_EQ(direct, DirectLog().size()) << "the program's connection went around the proxy";
}

}  // namespace
