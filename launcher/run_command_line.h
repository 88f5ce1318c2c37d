// launcher/run_command_line.h
// What the launcher is asked to do, read from its command line:
//   KestrelRun.exe [-wait] PROGRAM [ARGUMENTS...]   start PROGRAM covered
//   KestrelRun.exe -attach PID TID EVENT HANDOFF    (from the other launcher)
//   KestrelRun.exe -shell PID HANDOFF               (from the agent of the other width)
// The launcher reads its wide command line, so that a program's path and
// arguments outside the ANSI code page reach it intact; the narrow form
// reads the same grammar.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace launcher {

enum class RunMode { Invalid, Run, Attach, Shell };

template <typename Char>
struct BasicRunRequest {
    RunMode mode = RunMode::Invalid;
    // Run: wait for the program and end with its exit code.
    bool wait = false;
    // Run: the program's command line, exactly as it followed the switches.
    std::basic_string<Char> programLine;
    // Attach: the suspended process and its main thread, the ready event's
    // handle value inside that process, and the parent's handoff as hex
    // text (injection/handoff.h). Shell: the running process and the
    // handoff.
    unsigned long processId = 0;
    unsigned long threadId = 0;
    std::uint64_t readyEvent = 0;
    std::string handoff;
};

using RunRequest = BasicRunRequest<char>;
using WideRunRequest = BasicRunRequest<wchar_t>;

// The whole command line, the launcher's own program name first.
RunRequest ParseRunCommandLine(std::string_view line);
WideRunRequest ParseRunCommandLine(std::wstring_view line);

}  // namespace launcher
