// framework/tool_tip_relay.h
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/gui_handles.h"

// The tool-tip control of one window that asked for tool tips. The window
// names the tool under the mouse on every mouse message (its tool hit test);
// the relay keeps that one tool registered with the control and forwards the
// message, so the control times showing and hiding itself and asks the
// tool's window for the text when it shows.
class CToolTipRelay {
public:
    explicit CToolTipRelay(HWND owner);
    CToolTipRelay(const CToolTipRelay&) = delete;
    CToolTipRelay& operator=(const CToolTipRelay&) = delete;

    bool Valid() const { return static_cast<bool>(m_toolTip); }
    // msg is a mouse message of the owner or one of its children; hitId and
    // hit are what the owner's tool hit test gave for it (-1: no tool).
    void Relay(const MSG& msg, INT_PTR hitId, const TOOLINFOA& hit);

private:
    void RemoveTool();

    HWND m_owner;
    UniqueWindow m_toolTip;
    bool m_hasTool = false;
    INT_PTR m_toolId = -1;
    TOOLINFOA m_tool = {};
};

// True for the messages a tool-tip control needs to see.
bool IsToolTipMouseMessage(UINT msg);
