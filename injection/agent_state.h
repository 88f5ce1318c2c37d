// injection/agent_state.h
// What the resident agent tells the libraries in shells and in the programs
// they start, through a named section of the session: whether a program
// started now gets the library. The agent writes it when "Enable" changes
// and clears it when it ends; a library only reads it.
#pragma once

#include <windows.h>

namespace injection {

constexpr wchar_t kAgentStateName[] = L"Local\\KestrelAgent.State";

struct AgentState {
    volatile LONG handOn;  // 1 while an agent runs and "Enable" is "1"
};

}  // namespace injection
