// launcher/run_command_line.h
// What the launcher is asked to do, read from its command line:
//   KestrelRun.exe [-wait] PROGRAM [ARGUMENTS...]   start PROGRAM covered
//   KestrelRun.exe -attach PID TID                  (from the other launcher)
#pragma once

#include <string>
#include <string_view>

namespace launcher {

struct RunRequest {
    enum class Mode { Invalid, Run, Attach };
    Mode mode = Mode::Invalid;
    // Run: wait for the program and end with its exit code.
    bool wait = false;
    // Run: the program's command line, exactly as it followed the switches.
    std::string programLine;
    // Attach: the suspended process and its main thread.
    unsigned long processId = 0;
    unsigned long threadId = 0;
};

// The whole command line, the launcher's own program name first.
RunRequest ParseRunCommandLine(std::string_view line);

}  // namespace launcher
