// hook/carrier.h
// A process the library is in without covering it: a shell the agent put it
// into, or a program such a shell started that is not covered itself. It
// redirects none of the process's connections and hands the library on to
// the programs the process starts, while an agent runs and proxying is on.
#pragma once

#include <string>

namespace hook {

enum class Role { Covered, Carrier };

void SetRole(Role role);
Role GetRole();

// The folder of client.db and the component's files, when the library runs
// from a copy (a shell's); empty: the library's own folder. Handed on.
void SetConfigFolder(const std::wstring& folder);
const std::wstring& ConfigFolder();

// Whether a carrier hands the library on to a program starting now.
bool AgentAllowsStarts();

// Tells a running agent that this program started another.
void WakeAgent();

// A program the library was put into while it ran (a shell): it lives on
// past any change of settings, so even covered it hands the library on only
// as a carrier does. Marks the process as carrying it, for its life.
void BecomeResident();
bool IsResident();

}  // namespace hook
