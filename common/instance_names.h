// common/instance_names.h
#pragma once

// Names by which the two programs find each other. The running configuration
// program is found by its main window's class.
constexpr char kMainWindowClass[] = "ZorizuzAduz.Halmerow {9A99783A-FEA9-4e7e-98FB-9DD94F1AF35A}";

// Files beside the programs.
constexpr char kClientDbFile[] = "client.db";
constexpr char kTrayProgramFile[] = "KestrelTray.exe";
