// hook/carrier.cpp
#include "hook/carrier.h"

#include <windows.h>

#include <atomic>

#include "hook/never_destroyed.h"
#include "injection/agent_state.h"
#include "injection/resident_start.h"

namespace hook {

namespace {

std::atomic<Role> g_role{Role::Covered};
std::atomic<bool> g_resident{false};

std::wstring& Folder()
{
    static NeverDestroyed<std::wstring> folder;
    return folder.Get();
}

// The agent's section, mapped once found and kept: a later agent opens the
// same one while this process holds it.
std::atomic<const injection::AgentState*> g_state{nullptr};

const injection::AgentState* State()
{
    if (const injection::AgentState* state = g_state.load())
        return state;
    const HANDLE section = OpenFileMappingW(FILE_MAP_READ, FALSE, injection::kAgentStateName);
    if (section == nullptr)
        return nullptr;
    const auto* state = static_cast<const injection::AgentState*>(
        MapViewOfFile(section, FILE_MAP_READ, 0, 0, sizeof(injection::AgentState)));
    if (state == nullptr) {
        CloseHandle(section);
        return nullptr;
    }
    const injection::AgentState* expected = nullptr;
    if (!g_state.compare_exchange_strong(expected, state)) {
        UnmapViewOfFile(state);  // another thread was first
        CloseHandle(section);
        return expected;
    }
    return state;  // the section's handle stays open with the view
}

}  // namespace

void SetRole(Role role)
{
    g_role.store(role);
}

Role GetRole()
{
    return g_role.load();
}

void SetConfigFolder(const std::wstring& folder)
{
    Folder() = folder;
}

const std::wstring& ConfigFolder()
{
    return Folder();
}

bool AgentAllowsStarts()
{
    const injection::AgentState* state = State();
    return state != nullptr && state->handOn == 1;
}

void WakeAgent()
{
    static std::atomic<HANDLE> s_wake{nullptr};
    HANDLE wake = s_wake.load();
    if (wake == nullptr) {
        wake = OpenEventW(EVENT_MODIFY_STATE, FALSE, injection::kAgentWakeName);
        if (wake == nullptr)
            return;  // no agent runs
        HANDLE expected = nullptr;
        if (!s_wake.compare_exchange_strong(expected, wake)) {
            CloseHandle(wake);
            wake = expected;
        }
    }
    SetEvent(wake);
}

void BecomeResident()
{
    g_resident.store(true);
    // Kept open for the process's life; the system closes it at the end.
    CreateEventW(nullptr, TRUE, FALSE,
                 injection::CarrierMarkerName(GetCurrentProcessId()).c_str());
}

bool IsResident()
{
    return g_resident.load();
}

}  // namespace hook
