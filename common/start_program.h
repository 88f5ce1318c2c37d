// common/start_program.h
#pragma once

// Starts fileName from the program directory by its short (8.3) path, shown
// normally. False when the file is missing or the start failed; callers
// ignore that. Returns once the program first waits for input (WinExec: at
// most 30 s under Wine), so a window it opens is there.
bool StartModuleProgram(const char* fileName);

// The same for a program that has no window and never reads input (the
// agent): returns at once, where WinExec would wait out its whole time.
bool StartModuleBackgroundProgram(const char* fileName);
