// tests/proxy/agent_test.cpp
// The resident agent (KestrelAgent.exe, beside client.db in the case folder):
// it puts the library into every program of the session named explorer.exe,
// and such a shell hands it on to every program it starts. The shells here
// are the stand-in (shell_standin.cpp), driven by WM_COPYDATA; the client is
// the proxy tests' client, started by a shell with the arguments RunClient
// passes. KestrelTray.exe is never in the case folder nor running: the agent
// does all of this on its own.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "store/config_db.h"
#include "tests/e2e/process.h"
#include "tests/e2e/text.h"
#include "tests/proxy/proxy_case.h"

namespace {

using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

// Generous limits for what the agent does "within 2 s"; the time each took is
// reported, not asserted.
constexpr long long kAttachPatienceMs = 10000;
constexpr long long kClientPatienceMs = 60000;
constexpr DWORD kEndPatienceMs = 10000;

std::string Path(const char* variable)
{
    const char* value = std::getenv(variable);
    return e2e::WindowsPathFromUnix(value != nullptr ? value : "");
}

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void Pause()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

// How a shell starts a program.
enum class Start { Direct, ThroughCmd, ShellExecute };

const char* Name(Start how)
{
    return how == Start::Direct       ? "createprocess"
           : how == Start::ThroughCmd ? "cmd /c"
                                      : "shellexecute";
}

class AgentCase : public ProxyCase {
protected:
    struct Shell {
        std::unique_ptr<e2e::Process> process;
        HWND window = nullptr;
    };

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ProxyCase::SetUp());
        const std::string agent = Path("KESTREL_PROXY_AGENT");
        ASSERT_FALSE(agent.empty()) << "KESTREL_PROXY_AGENT is not set: no agent was built";
        ASSERT_TRUE(CopyFileA(agent.c_str(), Program("KestrelAgent.exe").c_str(), FALSE)) << agent;
        ASSERT_NO_FATAL_FAILURE(CopyShell(Path("KESTREL_PROXY_SHELL"), "shell"));
        if (HaveOtherWidth()) {
            ASSERT_NO_FATAL_FAILURE(
                CopyShell(Path("KESTREL_PROXY_OTHER_BUILD") + "\\tests\\proxy\\shell\\explorer.exe",
                          "other shell"));
        }
    }

    // Whatever happened: the agent asked to end (and ended), every shell
    // and what it started ended with its job.
    void TearDown() override
    {
        if (m_agent && m_agent->Running()) {
            EXPECT_TRUE(EndAgent());
        }
        m_shells.clear();
        m_agent.reset();
    }

    void CopyShell(const std::string& from, const std::string& folder)
    {
        const std::string to = m_folder + "\\" + folder;
        ASSERT_TRUE(CreateDirectoryA(to.c_str(), nullptr)) << to;
        ASSERT_TRUE(CopyFileA(from.c_str(), (to + "\\explorer.exe").c_str(), FALSE)) << from;
    }

    std::string Agent() const { return Program("KestrelAgent.exe"); }

    void StartAgent()
    {
        m_agent = std::make_unique<e2e::Process>(Agent(), "", m_folder);
        ASSERT_TRUE(m_agent->Started());
    }

    // "KestrelAgent.exe -exit", then the running agent's end.
    bool EndAgent()
    {
        e2e::Process exit(Agent(), "-exit", m_folder);
        const bool asked = exit.Started() && exit.WaitForExit(kEndPatienceMs);
        EXPECT_TRUE(asked) << "KestrelAgent.exe -exit did not return";
        return m_agent->WaitForExit(kEndPatienceMs);
    }

    // A shell titled `title`, once its window is there.
    HWND StartShell(const std::string& title, bool otherWidth = false)
    {
        Shell shell;
        shell.process = std::make_unique<e2e::Process>(
            m_folder + (otherWidth ? "\\other shell" : "\\shell") + "\\explorer.exe", Quoted(title),
            m_folder);
        EXPECT_TRUE(shell.process->Started()) << title;
        for (const auto start = Clock::now(); shell.window == nullptr && shell.process->Running() &&
                                              MsSince(start) < kAttachPatienceMs;
             Pause())
            shell.window = FindWindowExA(HWND_MESSAGE, nullptr, "KestrelTestShell", title.c_str());
        EXPECT_NE(nullptr, shell.window)
            << "the shell " << title << " has no window; exit code " << shell.process->ExitCode();
        m_shells.push_back(std::move(shell));
        return m_shells.back().window;
    }

    // The shell's answer to `command`; -100 when it gave none.
    static LRESULT Send(HWND shell, const std::string& command)
    {
        COPYDATASTRUCT data{};
        data.cbData = static_cast<DWORD>(command.size());
        data.lpData = const_cast<char*>(command.data());
        DWORD_PTR answer = 0;
        if (SendMessageTimeoutA(shell, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                                SMTO_ABORTIFHUNG, kClientPatienceMs, &answer) == 0)
            return -100;
        return static_cast<LRESULT>(answer);
    }

    // How long until the shell carries the library; -1 when it never did.
    static long long WaitUntilCarrying(HWND shell)
    {
        for (const auto start = Clock::now(); MsSince(start) < kAttachPatienceMs; Pause())
            if (Send(shell, "carrying") == 1)
                return MsSince(start);
        return -1;
    }

    // The shell starts `program` with RunClient's arguments; its result lines
    // once it has written them.
    Lines RunFromShell(HWND shell, Start how, const std::string& program,
                       const std::string& arguments)
    {
        const std::string result = ResultFile("shell-run" + std::to_string(++m_runs));
        DeleteFileA(result.c_str());
        const std::string line = Quoted(program) + " " + Quoted(result) + " " + arguments;
        LRESULT started = -100;
        switch (how) {
        case Start::Direct:
            started = Send(shell, "createprocess " + line);
            break;
        case Start::ThroughCmd:
            started = Send(shell, "createprocess cmd.exe /c " + Quoted(line));
            break;
        case Start::ShellExecute:
            started =
                Send(shell, "shellexecute " + program + "\t" + Quoted(result) + " " + arguments);
            break;
        }
        EXPECT_EQ(0, started) << Name(how) << " " << line;
        Lines lines;
        for (const auto start = Clock::now();
             started == 0 && lines.empty() && MsSince(start) < kClientPatienceMs; Pause())
            lines = ReadLines(result);
        return lines;
    }

    // Whether a program the shell starts gets the library.
    int ChildCarries(HWND shell)
    {
        const Lines lines =
            RunFromShell(shell, Start::Direct, Program("client.exe"), "modules KestrelHook");
        return lines.size() == 1 ? std::atoi(lines[0].c_str()) : -1;
    }

    // Polls ChildCarries until it answers `expected`: how long that took, or -1.
    long long WaitUntilChildCarries(HWND shell, int expected)
    {
        for (const auto start = Clock::now(); MsSince(start) < kAttachPatienceMs; Pause())
            if (ChildCarries(shell) == expected)
                return MsSince(start);
        return -1;
    }

    std::string Echo() const
    {
        return TestNetwork().address + " " + std::to_string(TestNetwork().echoPort);
    }
    std::string RelayedEcho() const
    {
        return RelayLine(kRelayOpen, 5,
                         TestNetwork().address + ":" + std::to_string(TestNetwork().echoPort));
    }

    std::unique_ptr<e2e::Process> m_agent;
    std::vector<Shell> m_shells;
    int m_runs = 0;
};

Lines Since(const Lines& lines, std::size_t from)
{
    return from <= lines.size() ? Lines(lines.begin() + static_cast<long>(from), lines.end())
                                : Lines{};
}

TEST_F(AgentCase, ShellsStartedBeforeAndAfterTheAgentCarryTheLibrary)
{
    Configure(Relay());
    struct Row {
        const char* title;
        bool otherWidth;
        bool beforeAgent;
    };
    std::vector<Row> rows = {{"before", false, true}, {"after", false, false}};
    if (HaveOtherWidth()) {
        rows.push_back({"other width before", true, true});
        rows.push_back({"other width after", true, false});
    }
    std::vector<HWND> shells(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].beforeAgent)
            shells[i] = StartShell(rows[i].title, rows[i].otherWidth);
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].beforeAgent) {
            EXPECT_EQ(0, Send(shells[i], "carrying")) << rows[i].title << ": before the agent";
        }
    ASSERT_NO_FATAL_FAILURE(StartAgent());
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (!rows[i].beforeAgent)
            shells[i] = StartShell(rows[i].title, rows[i].otherWidth);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const long long ms = WaitUntilCarrying(shells[i]);
        EXPECT_NE(-1, ms) << rows[i].title << ": never carried";
        std::printf("  %s: carrying after %lld ms\n", rows[i].title, ms);
    }
    // Once the agent has settled, a shell nothing of ours started is found by
    // its regular look.
    std::this_thread::sleep_for(std::chrono::seconds(11));
    const long long ms = WaitUntilCarrying(StartShell("after the agent settled"));
    EXPECT_NE(-1, ms) << "a shell started after the agent settled never carried";
    std::printf("  after the agent settled: carrying after %lld ms\n", ms);
}

struct ClientRow {
    Start how;
    std::string client;  // in the case folder
    bool otherWidthShell;
    bool proxied;
};

class AgentAreaCase : public AgentCase {
protected:
    // Each row's client connects to the echo server: through the relay when
    // proxied, else straight to it.
    void RunRows(const std::vector<ClientRow>& rows, bool shellProxied)
    {
        ASSERT_NO_FATAL_FAILURE(StartAgent());
        HWND shells[2] = {StartShell("shell"), nullptr};
        if (HaveOtherWidth())
            shells[1] = StartShell("other shell", true);
        for (std::size_t i = 0; i < (HaveOtherWidth() ? 2u : 1u); ++i)
            ASSERT_NE(-1, WaitUntilCarrying(shells[i]));
        for (const ClientRow& row : rows) {
            if (row.otherWidthShell && shells[1] == nullptr)
                continue;
            SCOPED_TRACE(std::string(Name(row.how)) + " " + row.client +
                         (row.otherWidthShell ? " from the other width's shell" : ""));
            const std::size_t relayed = RelayLog().size();
            const std::size_t direct = DirectLog().size();
            const Lines lines = RunFromShell(shells[row.otherWidthShell ? 1 : 0], row.how,
                                             Program(row.client), "blocking " + Echo());
            ASSERT_EQ(1u, lines.size());
            EXPECT_TRUE(ParseResult(lines[0]).ok) << lines[0];
            EXPECT_EQ(row.proxied ? Lines{RelayedEcho()} : Lines{}, Since(RelayLog(), relayed));
            EXPECT_EQ(row.proxied ? 0u : 1u, Since(DirectLog(), direct).size());
        }
        // The shell's own connect.
        const std::size_t relayed = RelayLog().size();
        const std::size_t direct = DirectLog().size();
        EXPECT_EQ(0, Send(shells[0], "connect " + Echo()));
        EXPECT_EQ(shellProxied ? Lines{RelayedEcho()} : Lines{}, Since(RelayLog(), relayed));
        EXPECT_EQ(shellProxied ? 0u : 1u, Since(DirectLog(), direct).size());
    }
};

TEST_F(AgentAreaCase, UnderAllWhatTheShellStartsIsProxiedAndSoIsTheShell)
{
    Configure(Relay());
    RunRows({{Start::Direct, "client.exe", false, true},
             {Start::ThroughCmd, "client.exe", false, true},
             {Start::ShellExecute, "client.exe", false, true},
             {Start::Direct, "client.exe", true, true}},
            true);
}

TEST_F(AgentAreaCase, UnderTheProgramListOnlyListedProgramsAreProxied)
{
    CopyClient("unlisted.exe");
    Configure(Relay(), "1", "ProgramList");
    CConfigDb db;
    db.SetDbPath(Db());
    ASSERT_TRUE(db.AddApp(Program("client.exe")));
    RunRows({{Start::Direct, "client.exe", false, true},
             {Start::ThroughCmd, "client.exe", false, true},
             {Start::ShellExecute, "client.exe", false, true},
             {Start::Direct, "client.exe", true, true},
             {Start::Direct, "unlisted.exe", false, false},
             {Start::ThroughCmd, "unlisted.exe", false, false}},
            false);
}

TEST_F(AgentCase, WhileDisabledOrWithoutTheAgentTheShellHandsNothingOn)
{
    Configure(Relay());
    ASSERT_NO_FATAL_FAILURE(StartAgent());
    HWND shell = StartShell("shell");
    ASSERT_NE(-1, WaitUntilCarrying(shell));
    EXPECT_EQ(1, ChildCarries(shell));
    // The agent notices a change of client.db by itself and publishes it; each
    // step polls the shell's children until they show it.
    struct Step {
        const char* enable;
        int carries;
    };
    for (const Step step : {Step{"0", 0}, Step{"1", 1}}) {
        CConfigDb db;
        db.SetDbPath(Db());
        ASSERT_TRUE(db.SetSetting("Enable", step.enable));
        const long long ms = WaitUntilChildCarries(shell, step.carries);
        EXPECT_NE(-1, ms) << "Enable " << step.enable << ": a child still got "
                          << (step.carries ? "nothing" : "the library");
        std::printf("  Enable %s: children follow after %lld ms\n", step.enable, ms);
    }
    ASSERT_TRUE(EndAgent());
    const long long ms = WaitUntilChildCarries(shell, 0);
    EXPECT_NE(-1, ms) << "with the agent ended, a child still got the library";
    std::printf("  agent ended: children follow after %lld ms\n", ms);
}

TEST_F(AgentCase, WithoutTheAgentAShellNeverCarries)
{
    Configure(Relay());
    HWND shell = StartShell("shell");
    for (const auto start = Clock::now(); MsSince(start) < 3000; Pause())
        ASSERT_EQ(0, Send(shell, "carrying")) << "after " << MsSince(start) << " ms";
    // The same shell is attached as soon as there is an agent: the check
    // above could see it.
    ASSERT_NO_FATAL_FAILURE(StartAgent());
    EXPECT_NE(-1, WaitUntilCarrying(shell));
}

TEST_F(AgentCase, AShellStartedAgainCarriesAgain)
{
    Configure(Relay());
    ASSERT_NO_FATAL_FAILURE(StartAgent());
    ASSERT_NE(-1, WaitUntilCarrying(StartShell("shell")));
    m_shells.back().process->Kill();
    ASSERT_FALSE(m_shells.back().process->Running());
    const long long ms = WaitUntilCarrying(StartShell("shell"));
    EXPECT_NE(-1, ms) << "the shell started again never carried";
    std::printf("  started again: carrying after %lld ms\n", ms);
}

TEST_F(AgentCase, ASecondAgentEndsAtOnceAndExitEndsTheFirst)
{
    Configure(Relay());
    ASSERT_NO_FATAL_FAILURE(StartAgent());
    ASSERT_NE(-1, WaitUntilCarrying(StartShell("shell")));
    e2e::Process second(Agent(), "", m_folder);
    ASSERT_TRUE(second.Started());
    EXPECT_TRUE(second.WaitForExit(kEndPatienceMs)) << "a second agent kept running";
    EXPECT_TRUE(m_agent->Running()) << "the first agent ended with the second's start";
    EXPECT_TRUE(EndAgent()) << "-exit did not end the agent";
}

}  // namespace
