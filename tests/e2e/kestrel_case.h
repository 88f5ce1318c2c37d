// tests/e2e/kestrel_case.h
// One end-to-end case: copies of the built Kestrel.exe and of the tray
// program (or of its stand-in) in a fresh folder, started as real processes
// under the same Wine.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/process.h"

// The configuration program's main window class and the tray program's
// window title: how other programs find them.
extern const char kMainWindowClass[];
extern const char kTrayWindowTitle[];

// Whether an agent runs in the session: its instance mutex exists.
bool AgentRuns();

// What lies beside Kestrel.exe as KestrelTray.exe: the stand-in that only logs
// its starts, or the real tray program.
enum class Tray { StandIn, Real };

class KestrelCase : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A folder of the case (name in UTF-8) holding Kestrel.exe, tray as
    // KestrelTray.exe and the agent's stand-in as KestrelAgent.exe (where the
    // test has one); its ANSI path, without a final backslash.
    std::string MakeProgramFolder(const std::string& utf8Name, Tray tray = Tray::StandIn);
    // "Kestrel.exe" args from folder, with currentDir (default: folder) as
    // the current directory. Killed at the end of the case if still running.
    e2e::Process& Start(const std::string& folder, const std::string& args = std::string(),
                        const std::string& currentDir = std::string(),
                        const char* program = "Kestrel.exe");
    // The main window of the process once it is visible, or null.
    HWND WaitForMainWindow(const e2e::Process& process);
    // The lines the tray stand-in has written in folder, one per start.
    std::vector<std::string> TrayStarts(const std::string& folder) const;
    // The same of the agent's stand-in.
    std::vector<std::string> AgentStarts(const std::string& folder) const;
    // Keeps a picture of the window under build/.../e2e-artifacts.
    void SaveShot(HWND window, const std::string& name) const;

    std::string m_caseFolder;

private:
    std::vector<std::unique_ptr<e2e::Process>> m_processes;
    // Where "KestrelAgent.exe -exit" can be started from at the end.
    std::string m_agentFolder;
};

bool FileExists(const std::string& ansiPath);
// The change counter as the proxying component reads it; 0 when missing.
DWORD ChangeCounter();
// The tables of the database and every row of Server, each row as its fields
// joined by '|'; false when the file cannot be read as a database.
// Runs sql on the database (created when writable and missing) and collects
// the first column of its rows; false on any failure.
bool QueryDatabase(const std::string& ansiPath, const std::string& sql,
                   std::vector<std::string>& rows, bool writable = false);
bool ReadDatabase(const std::string& ansiPath, std::vector<std::string>& tables,
                  std::vector<std::string>& serverRows);
