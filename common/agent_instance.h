// common/agent_instance.h
#pragma once

#include <windows.h>

#include "common/instance_names.h"

// Whether a resident agent runs in this session. A mutex we may not open (an
// elevated agent's) is a running agent too.
inline bool AgentRuns()
{
    const HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, kAgentInstanceMutex);
    if (mutex == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED;
    CloseHandle(mutex);
    return true;
}
