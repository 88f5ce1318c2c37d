// injection/library_injection.cpp
#include "injection/library_injection.h"

#include <vector>

#include "framework/handles.h"
#include "injection/component_files.h"

namespace injection {

namespace {

// The other launcher only queues a call and ends; it never takes this long.
constexpr DWORD kHandOverTimeoutMs = 30000;

// Memory in another process, released unless kept.
class RemoteAllocation {
public:
    RemoteAllocation(HANDLE process, SIZE_T size)
        : m_process(process),
          m_address(
              VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
    {
    }
    ~RemoteAllocation()
    {
        if (m_address != nullptr)
            VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
    }
    RemoteAllocation(const RemoteAllocation&) = delete;
    RemoteAllocation& operator=(const RemoteAllocation&) = delete;

    void* Get() const { return m_address; }
    void Keep() { m_address = nullptr; }

private:
    HANDLE m_process;
    void* m_address;
};

bool IsWow64(HANDLE process, bool& wow64)
{
    BOOL result = FALSE;
    if (!IsWow64Process(process, &result))
        return false;
    wow64 = result != FALSE;
    return true;
}

bool HandToOtherLauncher(const PROCESS_INFORMATION& child, void* ownModule)
{
    const std::string launcher = ComponentPath(ownModule, kOtherWidthLauncherFile);
    if (launcher.empty())
        return false;
    std::string line = "\"" + launcher + "\" " + kAttachSwitch + " " +
                       std::to_string(child.dwProcessId) + " " + std::to_string(child.dwThreadId);
    std::vector<char> mutableLine(line.begin(), line.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(launcher.c_str(), mutableLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info))
        return false;
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    DWORD code = 1;
    return WaitForSingleObject(process.Get(), kHandOverTimeoutMs) == WAIT_OBJECT_0 &&
           GetExitCodeProcess(process.Get(), &code) && code == 0;
}

}  // namespace

bool QuerySameWidth(HANDLE process, bool& same)
{
    bool mine = false;
    bool theirs = false;
    if (!IsWow64(GetCurrentProcess(), mine) || !IsWow64(process, theirs))
        return false;
    same = mine == theirs;
    return true;
}

bool QueueLibraryLoad(HANDLE process, HANDLE thread, const std::string& libraryPath)
{
    // Kernel32 lies at the same address in every process of one width, so
    // the loader's address here is its address there.
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    void* const loader = kernel != nullptr
                             ? reinterpret_cast<void*>(GetProcAddress(kernel, "LoadLibraryA"))
                             : nullptr;
    if (loader == nullptr || libraryPath.empty())
        return false;
    const SIZE_T size = libraryPath.size() + 1;
    RemoteAllocation text(process, size);
    SIZE_T written = 0;
    if (text.Get() == nullptr ||
        !WriteProcessMemory(process, text.Get(), libraryPath.c_str(), size, &written) ||
        written != size)
        return false;
    // LoadLibraryA takes one pointer and uses the system's calling convention,
    // as an APC routine does.
    if (!QueueUserAPC(reinterpret_cast<PAPCFUNC>(loader), thread,
                      reinterpret_cast<ULONG_PTR>(text.Get())))
        return false;
    text.Keep();
    return true;
}

bool AttachHookLibrary(const PROCESS_INFORMATION& child, void* ownModule)
{
    bool same = false;
    if (!QuerySameWidth(child.hProcess, same))
        return false;
    if (!same)
        return HandToOtherLauncher(child, ownModule);
    return QueueLibraryLoad(child.hProcess, child.hThread,
                            ComponentPath(ownModule, kHookLibraryFile));
}

}  // namespace injection
