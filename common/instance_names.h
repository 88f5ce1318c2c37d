// common/instance_names.h
#pragma once

// Names by which the two programs find each other. The running configuration
// program is found by its main window's class, the tray program by its
// hidden window's title; the tray program's named event marks that one runs.
constexpr char kMainWindowClass[] = "ZorizuzAduz.Halmerow {9A99783A-FEA9-4e7e-98FB-9DD94F1AF35A}";
constexpr char kTrayWindowTitle[] = "{F21ECBDE-FF66-407f-953E-5EE66A69D4FE}";
constexpr char kTrayInstanceEvent[] = "{E73D0684-D7F1-47d5-B574-172873C614A2}";

// Files beside the programs.
constexpr char kClientDbFile[] = "client.db";
constexpr char kTrayProgramFile[] = "KestrelTray.exe";
constexpr char kConfigProgramFile[] = "Kestrel.exe";
constexpr char kAgentProgramFile[] = "KestrelAgent.exe";

// The resident agent (one per session): its instance mutex, and the event
// that "KestrelAgent.exe -exit" sets to end it.
constexpr char kAgentInstanceMutex[] = "Local\\KestrelAgent.Instance";
constexpr char kAgentExitEvent[] = "Local\\KestrelAgent.Exit";
constexpr char kAgentExitSwitch[] = "-exit";
