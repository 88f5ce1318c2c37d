// tests/e2e/process.h
#pragma once

#include <windows.h>

#include <string>

#include "framework/handles.h"

namespace e2e {

// A program started the way a user or another program starts it, inside a job
// of its own: whatever it starts in turn (WinExec) belongs to the job too, so
// the job counts every process the start caused and ends them all. The
// destructor kills what still runs, so no instance outlives its test.
class Process {
public:
    // "program" args, started from currentDir. Check Started().
    Process(const std::string& program, const std::string& args, const std::string& currentDir);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Started() const { return static_cast<bool>(m_process); }
    DWORD Id() const { return m_id; }
    bool Running() const;
    // True when the process has ended within timeoutMs.
    bool WaitForExit(DWORD timeoutMs);
    // STILL_ACTIVE while running.
    DWORD ExitCode() const;
    // Processes ever in the job: this one and every one it started.
    DWORD ProcessesStarted() const;
    void Kill();

private:
    UniqueKernelHandle m_job;
    UniqueKernelHandle m_process;
    DWORD m_id = 0;
};

}  // namespace e2e
