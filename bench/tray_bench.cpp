// bench/tray_bench.cpp
// What the tray program holds while it blinks: started with proxying on, in a
// folder of its own, it is looked at when a stretch of blinking (a minute by
// default) starts and when it ends. The lines "start" and "end" mark those
// moments for scripts/bench, which reads the process's own CPU times from the
// system then: Wine does not hand them to other processes.
//   kestrel_tray_bench FOLDER [SECONDS]   (FOLDER holds KestrelTray.exe)
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/handles.h"
#include "store/config_db.h"

namespace {

const char kTrayWindowTitle[] = "{F21ECBDE-FF66-407f-953E-5EE66A69D4FE}";

struct Sample {
    DWORD gdi = 0;
    DWORD user = 0;
    SIZE_T privateBytes = 0;
};

Sample Take(HANDLE process)
{
    Sample s;
    s.gdi = GetGuiResources(process, GR_GDIOBJECTS);
    s.user = GetGuiResources(process, GR_USEROBJECTS);
    PROCESS_MEMORY_COUNTERS memory = {};
    if (GetProcessMemoryInfo(process, &memory, sizeof memory))
        s.privateBytes = memory.PagefileUsage;
    return s;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: kestrel_tray_bench FOLDER [SECONDS]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;

    CConfigDb db;
    db.SetDbPath(folder + "\\client.db");
    if (!db.InitDatabase() || !db.SetSetting("Enable", "1")) {
        std::fprintf(stderr, "tray bench: cannot prepare %s\\client.db\n", folder.c_str());
        return 1;
    }

    std::string commandLine = "\"" + folder + "\\KestrelTray.exe\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &info)) {
        std::fprintf(stderr, "tray bench: cannot start %s\n", commandLine.c_str());
        return 1;
    }
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);

    HWND window = nullptr;
    for (int i = 0; i < 500 && !window; ++i, Sleep(20))
        window = FindWindowA(nullptr, kTrayWindowTitle);
    if (!window) {
        std::fprintf(stderr, "tray bench: the tray program's window did not appear\n");
        TerminateProcess(process.Get(), 1);
        return 1;
    }
    // Past start-up, into steady blinking.
    Sleep(2000);
    const Sample start = Take(process.Get());
    std::printf("start\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    const Sample end = Take(process.Get());
    std::printf("end\n");
    std::fflush(stdout);
    // scripts/bench reads the process's times now: it has to be there still.
    Sleep(1000);

    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_NORMAL, 5000, &ignored);
    if (WaitForSingleObject(process.Get(), 5000) != WAIT_OBJECT_0)
        TerminateProcess(process.Get(), 1);

    // Wine does not count GUI objects (GetGuiResources answers 0 there).
    std::printf("  GDI objects     %8lu -> %lu\n", static_cast<unsigned long>(start.gdi),
                static_cast<unsigned long>(end.gdi));
    std::printf("  USER objects    %8lu -> %lu\n", static_cast<unsigned long>(start.user),
                static_cast<unsigned long>(end.user));
    std::printf("  private memory  %8lu KB -> %lu KB\n",
                static_cast<unsigned long>(start.privateBytes / 1024),
                static_cast<unsigned long>(end.privateBytes / 1024));
    return 0;
}
