// agent/enable_watch.cpp
#include "agent/enable_watch.h"

#include <utility>

#include "hook/hook_config.h"
#include "injection/component_files.h"

namespace agent {

EnableWatch::EnableWatch(std::wstring installFolder) : m_folder(std::move(installFolder)) {}

EnableWatch::~EnableWatch()
{
    Publish(false);
    if (m_state != nullptr)
        UnmapViewOfFile(m_state);
    if (m_notification != INVALID_HANDLE_VALUE)
        FindCloseChangeNotification(m_notification);
}

bool EnableWatch::Start()
{
    // Libraries in shells may hold the section of an earlier agent: this one
    // then writes into that.
    m_section.Reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       sizeof(injection::AgentState), injection::kAgentStateName));
    if (!m_section)
        return false;
    m_state = static_cast<injection::AgentState*>(MapViewOfFile(
        m_section.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(injection::AgentState)));
    if (m_state == nullptr)
        return false;
    // A write of client.db changes the file or its journal beside it.
    m_notification = FindFirstChangeNotificationW(
        m_folder.c_str(), FALSE,
        FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_FILE_NAME);
    Reread();
    return m_notification != INVALID_HANDLE_VALUE;
}

void EnableWatch::Reread()
{
    if (m_notification != INVALID_HANDLE_VALUE)
        FindNextChangeNotification(m_notification);
    const std::wstring db = m_folder + L"\\" + injection::kConfigFile;
    hook::HookConfig config;
    if (!hook::ReadHookConfig(db, hook::kConfigBusyTimeoutMs, config)) {
        // Missing: nothing to proxy. Locked or unreadable: as it was, and
        // asked again a moment later.
        m_retry = GetFileAttributesW(db.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (!m_retry)
            Publish(false);
        return;
    }
    m_retry = false;
    Publish(config.enabled);
}

void EnableWatch::Publish(bool handOn)
{
    if (m_state != nullptr)
        InterlockedExchange(&m_state->handOn, handOn ? 1 : 0);
}

}  // namespace agent
