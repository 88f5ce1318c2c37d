// injection/component_files.h
// The file names of the proxying component. Each width has its own launcher
// and library; the four files lie in one folder beside client.db.
#pragma once

#include <string>

namespace injection {

#ifdef _WIN64
constexpr wchar_t kHookLibraryFile[] = L"KestrelHook64.dll";
constexpr wchar_t kOtherWidthLauncherFile[] = L"KestrelRun.exe";
#else
constexpr wchar_t kHookLibraryFile[] = L"KestrelHook.dll";
constexpr wchar_t kOtherWidthLauncherFile[] = L"KestrelRun64.exe";
#endif
// Both widths' libraries and launchers: what the agent copies.
constexpr const wchar_t* kComponentFiles[] = {L"KestrelHook.dll", L"KestrelHook64.dll",
                                              L"KestrelRun.exe", L"KestrelRun64.exe"};
constexpr wchar_t kConfigFile[] = L"client.db";

// The launcher's internal command: "-attach PID TID EVENT HANDOFF" puts the
// library into a suspended process of the launcher's own width that another
// process made (see handoff.h for the last two).
constexpr char kAttachSwitch[] = "-attach";
// "-shell PID HANDOFF" puts the library into a running program (a shell) of
// the launcher's width, for the agent of the other width.
constexpr char kShellSwitch[] = "-shell";

// Full path of fileName in the folder of the given module (the launcher's
// program file or the library), or empty when the module's path cannot be
// had. Wide: the folder may hold characters the ANSI code page cannot spell.
std::wstring ComponentPath(void* module, const wchar_t* fileName);

}  // namespace injection
