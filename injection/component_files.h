// injection/component_files.h
// The file names of the proxying component. Each width has its own launcher
// and library; the four files lie in one folder beside client.db.
#pragma once

#include <string>

namespace injection {

#ifdef _WIN64
constexpr char kHookLibraryFile[] = "KestrelHook64.dll";
constexpr char kOtherWidthLauncherFile[] = "KestrelRun.exe";
#else
constexpr char kHookLibraryFile[] = "KestrelHook.dll";
constexpr char kOtherWidthLauncherFile[] = "KestrelRun64.exe";
#endif

// The launcher's internal command: "-attach PID TID" loads the library into
// a suspended process of the launcher's own width that another process made.
constexpr char kAttachSwitch[] = "-attach";

// Full path of fileName in the folder of the given module (the launcher's
// program file or the library), or empty when the module's path cannot be had.
std::string ComponentPath(void* module, const char* fileName);

}  // namespace injection
