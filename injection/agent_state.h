// injection/agent_state.h
// What the resident agent tells the libraries in shells and in the programs
// they start, through a named section of the session: whether a program
// started now gets the library. The agent writes it when "Enable" changes
// and clears it when it ends; a library only reads it.
#pragma once

#include <windows.h>

namespace injection {

constexpr wchar_t kAgentStateName[] = L"Local\\KestrelAgent.State";
// Set by a library whenever its program started another: the new program
// may be a shell (a folder window's process, a shell started by hand), so
// the agent looks at once rather than at its next round.
constexpr wchar_t kAgentWakeName[] = L"Local\\KestrelAgent.Wake";

struct AgentState {
    volatile LONG handOn;  // 1 while an agent runs and "Enable" is "1"
};

}  // namespace injection
