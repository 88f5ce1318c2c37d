// agent/enable_watch.h
// Follows "Enable" in client.db through a change notification on its folder
// (no reading in a loop; the change counter under HKEY_LOCAL_MACHINE may not
// move without administrator rights) and publishes it to the libraries in
// shells through the agent's section. When the watch ends, it publishes
// "hand nothing on": shells then start programs untouched.
#pragma once

#include <windows.h>

#include <string>

#include "framework/handles.h"
#include "injection/agent_state.h"

namespace agent {

class EnableWatch {
public:
    explicit EnableWatch(std::wstring installFolder);
    ~EnableWatch();
    EnableWatch(const EnableWatch&) = delete;
    EnableWatch& operator=(const EnableWatch&) = delete;

    // Makes the section and the notification, and reads "Enable" once.
    bool Start();
    // Signalled when something in the folder changed.
    HANDLE Changed() const { return m_notification; }
    // After Changed() was signalled, or when an earlier read must be retried.
    void Reread();
    bool RetryDue() const { return m_retry; }
    bool HandingOn() const { return m_state != nullptr && m_state->handOn == 1; }

private:
    void Publish(bool handOn);

    std::wstring m_folder;
    UniqueKernelHandle m_section;
    injection::AgentState* m_state = nullptr;
    HANDLE m_notification = INVALID_HANDLE_VALUE;
    bool m_retry = false;
};

}  // namespace agent
