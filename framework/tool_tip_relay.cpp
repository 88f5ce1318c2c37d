// framework/tool_tip_relay.cpp
#include "framework/tool_tip_relay.h"

namespace {
// The size every common-controls version takes; the newest size is refused
// by version 5, which runs where the manifest is not in force.
const UINT kToolInfoSize = TTTOOLINFOA_V2_SIZE;
}  // namespace

bool IsToolTipMouseMessage(UINT msg)
{
    switch (msg) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
        return true;
    default:
        return false;
    }
}

CToolTipRelay::CToolTipRelay(HWND owner) : m_owner(owner)
{
    // Always-tip: the tip shows whether or not the owner's window is active.
    m_toolTip.Reset(CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                                    WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                                    GetModuleHandleA(nullptr), nullptr));
    if (m_toolTip)
        SendMessageA(m_toolTip.Get(), TTM_ACTIVATE, TRUE, 0);
}

void CToolTipRelay::RemoveTool()
{
    if (!m_hasTool)
        return;
    SendMessageA(m_toolTip.Get(), TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&m_tool));
    m_hasTool = false;
    m_toolId = -1;
}

void CToolTipRelay::Relay(const MSG& msg, INT_PTR hitId, const TOOLINFOA& hit)
{
    if (!m_toolTip)
        return;
    // Another tool under the mouse: the control starts over with it, so the
    // tip of the previous one goes and the new one waits its own delay.
    if (hitId < 0 || !m_hasTool || hitId != m_toolId || hit.hwnd != m_tool.hwnd) {
        RemoveTool();
        if (hitId >= 0) {
            m_tool = hit;
            m_tool.cbSize = kToolInfoSize;
            if (SendMessageA(m_toolTip.Get(), TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&m_tool))) {
                m_hasTool = true;
                m_toolId = hitId;
            }
        }
    }
    if (!m_hasTool)
        return;
    // The control matches the message's window and point against the tool:
    // both as the tool's window sees them, whichever child had the message.
    MSG relayed = msg;
    relayed.hwnd = m_tool.hwnd;
    POINT point = msg.pt;
    ScreenToClient(m_tool.hwnd, &point);
    relayed.lParam = MAKELPARAM(point.x, point.y);
    SendMessageA(m_toolTip.Get(), TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
}
