// tests/e2e/startup_test.cpp
// What one start of Kestrel.exe does, depending on the command line and on
// whether an instance already runs.
#include <gtest/gtest.h>

#include "tests/e2e/kestrel_case.h"
#include "tests/e2e/text.h"
#include "tests/e2e/window_driver.h"

namespace {

using e2e::WaitUntil;

// A start that only passes something on ends well within this.
const DWORD kQuickEndMs = 5000;

// The path a logged start (of the tray program or the agent) names, as the
// file system spells it in full.
std::string LongPathOfStart(const std::string& line)
{
    const std::string path = line.substr(0, line.find('|'));
    char full[MAX_PATH] = {};
    const DWORD length = GetLongPathNameA(path.c_str(), full, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
}

class StartupTest : public KestrelCase {};

TEST_F(StartupTest, FirstStartPreparesTheDatabaseAndStartsTheTrayAndAgentBesideItself)
{
    // A Chinese folder name and a start from another current directory: the
    // files still have to be found beside the program.
    const std::string folder = MakeProgramFolder("代理 客户端");
    e2e::Process& kestrel = Start(folder, "", m_caseFolder);
    ASSERT_NE(WaitForMainWindow(kestrel), nullptr);

    ASSERT_TRUE(WaitUntil([&] { return !TrayStarts(folder).empty(); }));
    const std::vector<std::string> starts = TrayStarts(folder);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(e2e::Utf8FromAnsi(LongPathOfStart(starts[0])),
              e2e::Utf8FromAnsi(folder + "\\KestrelTray.exe"));
    // The agent has no window and reads no input: the main window above came
    // without waiting for it.
    ASSERT_TRUE(WaitUntil(AgentRuns));
    const std::vector<std::string> agentStarts = AgentStarts(folder);
    ASSERT_EQ(agentStarts.size(), 1u);
    EXPECT_EQ(e2e::Utf8FromAnsi(LongPathOfStart(agentStarts[0])),
              e2e::Utf8FromAnsi(folder + "\\KestrelAgent.exe"));
    EXPECT_EQ(kestrel.ProcessesStarted(), 3u);

    std::vector<std::string> tables, servers;
    ASSERT_TRUE(ReadDatabase(folder + "\\client.db", tables, servers));
    EXPECT_EQ(tables, (std::vector<std::string>{"App", "Server", "Setting"}));
    EXPECT_EQ(servers, std::vector<std::string>{"SingleServer||1080|||5"});
    EXPECT_FALSE(FileExists(m_caseFolder + "\\client.db"));
}

TEST_F(StartupTest, SecondStartBringsTheRunningWindowForwardAndEnds)
{
    const std::string folder = MakeProgramFolder("program");
    e2e::Process& first = Start(folder);
    HWND window = WaitForMainWindow(first);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return TrayStarts(folder).size() == 1; }));
    ASSERT_TRUE(WaitUntil(AgentRuns));
    // Whatever the second start prepared would show up again.
    ASSERT_TRUE(DeleteFileA((folder + "\\client.db").c_str()));
    ShowWindow(window, SW_HIDE);
    ASSERT_FALSE(IsWindowVisible(window));
    ASSERT_NE(GetForegroundWindow(), window);

    e2e::Process& second = Start(folder);
    ASSERT_TRUE(second.WaitForExit(kQuickEndMs));
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_EQ(second.ProcessesStarted(), 1u) << "a second start started another program";
    EXPECT_EQ(TrayStarts(folder).size(), 1u);
    EXPECT_EQ(AgentStarts(folder).size(), 1u);
    EXPECT_FALSE(FileExists(folder + "\\client.db"));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(GetForegroundWindow(), window);
    EXPECT_TRUE(first.Running());
}

TEST_F(StartupTest, AnAgentThatRunsIsNotStartedAgain)
{
    const std::string folder = MakeProgramFolder("program");
    e2e::Process& agent = Start(folder, "", "", "KestrelAgent.exe");
    ASSERT_TRUE(WaitUntil(AgentRuns));

    e2e::Process& kestrel = Start(folder);
    ASSERT_NE(WaitForMainWindow(kestrel), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return TrayStarts(folder).size() == 1; }));
    EXPECT_EQ(AgentStarts(folder).size(), 1u) << "another agent was started";

    // Nor does the configuration program's next start.
    e2e::Process& request = Start(folder, "-exit");
    ASSERT_TRUE(request.WaitForExit(kQuickEndMs));
    ASSERT_TRUE(kestrel.WaitForExit(kQuickEndMs));
    e2e::Process& next = Start(folder);
    ASSERT_NE(WaitForMainWindow(next), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return TrayStarts(folder).size() == 2; }));
    EXPECT_EQ(AgentStarts(folder).size(), 1u) << "another agent was started";
    EXPECT_TRUE(agent.Running());
}

TEST_F(StartupTest, ExitRequestWithoutInstanceEndsAtOnceAndPreparesNothing)
{
    const std::string folder = MakeProgramFolder("program");
    // The switch counts anywhere in the arguments, also inside a longer word.
    for (const char* args : {"-exit", "/quiet --exit-now"}) {
        e2e::Process& kestrel = Start(folder, args);
        ASSERT_TRUE(kestrel.WaitForExit(kQuickEndMs)) << args;
        EXPECT_EQ(kestrel.ExitCode(), 0u) << args;
        EXPECT_EQ(kestrel.ProcessesStarted(), 1u) << args;
    }
    EXPECT_FALSE(FileExists(folder + "\\client.db"));
    EXPECT_TRUE(TrayStarts(folder).empty());
    EXPECT_TRUE(AgentStarts(folder).empty());
}

TEST_F(StartupTest, ExitRequestClosesTheRunningInstance)
{
    const std::string folder = MakeProgramFolder("program");
    e2e::Process& running = Start(folder);
    ASSERT_NE(WaitForMainWindow(running), nullptr);
    ASSERT_TRUE(WaitUntil(AgentRuns));

    e2e::Process& request = Start(folder, "-exit");
    ASSERT_TRUE(request.WaitForExit(kQuickEndMs));
    EXPECT_EQ(request.ExitCode(), 0u);
    ASSERT_TRUE(running.WaitForExit(kQuickEndMs));
    EXPECT_EQ(running.ExitCode(), static_cast<DWORD>(IDCANCEL));
    // The agent it started does not end with it.
    EXPECT_TRUE(AgentRuns());
}

TEST_F(StartupTest, OnlyTheLowercaseSwitchAmongTheArgumentsIsAnExitRequest)
{
    // The program's own path is no argument, even when it contains the switch.
    const std::string plain = MakeProgramFolder("program");
    const std::string named = MakeProgramFolder("kestrel-exit");
    const struct {
        const std::string& folder;
        const char* args;
    } starts[] = {{plain, "-EXIT"}, {named, ""}};
    for (const auto& start : starts) {
        e2e::Process& kestrel = Start(start.folder, start.args);
        HWND window = WaitForMainWindow(kestrel);
        EXPECT_NE(window, nullptr) << start.folder << " " << start.args;
        EXPECT_TRUE(FileExists(start.folder + "\\client.db"));
        kestrel.Kill();
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(window); }));
    }
}

}  // namespace
