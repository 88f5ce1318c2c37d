// common/start_program.h
#pragma once

// Starts fileName from the program directory by its short (8.3) path, shown
// normally, without waiting for it. False when the file is missing or the
// start failed; callers ignore that.
bool StartModuleProgram(const char* fileName);
