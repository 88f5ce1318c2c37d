// tests/e2e/process.cpp
#include "tests/e2e/process.h"

#include <vector>

namespace e2e {

Process::Process(const std::string& program, const std::string& args, const std::string& currentDir)
{
    m_job.Reset(CreateJobObjectA(nullptr, nullptr));
    if (!m_job)
        return;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(m_job.Get(), JobObjectExtendedLimitInformation, &limits,
                            sizeof(limits));

    std::string commandLine = "\"" + program + "\"";
    if (!args.empty())
        commandLine += " " + args;
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    // Suspended until it is in the job, so that nothing it starts escapes.
    if (!CreateProcessA(program.c_str(), mutableLine.data(), nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED, nullptr, currentDir.c_str(), &startup, &info))
        return;
    UniqueKernelHandle thread(info.hThread);
    m_process.Reset(info.hProcess);
    m_id = info.dwProcessId;
    if (!AssignProcessToJobObject(m_job.Get(), m_process.Get())) {
        Kill();
        m_process.Reset();
        return;
    }
    ResumeThread(thread.Get());
}

Process::~Process()
{
    Kill();
}

bool Process::Running() const
{
    return m_process && WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT;
}

bool Process::WaitForExit(DWORD timeoutMs)
{
    return m_process && WaitForSingleObject(m_process.Get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD Process::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    if (m_process)
        GetExitCodeProcess(m_process.Get(), &code);
    return code;
}

DWORD Process::ProcessesStarted() const
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    if (!m_job || !QueryInformationJobObject(m_job.Get(), JobObjectBasicAccountingInformation,
                                             &accounting, sizeof(accounting), nullptr))
        return 0;
    return accounting.TotalProcesses;
}

void Process::Kill()
{
    if (Running()) {
        TerminateProcess(m_process.Get(), 255);
        WaitForSingleObject(m_process.Get(), 5000);
    }
    if (m_job)
        TerminateJobObject(m_job.Get(), 255);
}

}  // namespace e2e
