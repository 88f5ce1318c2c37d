// agent/shell_attacher.cpp
#include "agent/shell_attacher.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <utility>

#include "injection/component_files.h"
#include "injection/handoff.h"
#include "injection/library_injection.h"
#include "injection/resident_start.h"

namespace agent {

namespace {

constexpr wchar_t kShellImage[] = L"explorer.exe";
// A shell that refused is asked again after this long, one of another user
// or a higher level much later: its id may be reused by a shell of ours.
constexpr ULONGLONG kRetryMs = 3000;
constexpr ULONGLONG kForeignRetryMs = 60000;
constexpr DWORD kOtherLauncherTimeoutMs = 20000;

#ifdef _WIN64
constexpr wchar_t kOtherLibrary[] = L"KestrelHook.dll";
#else
constexpr wchar_t kOtherLibrary[] = L"KestrelHook64.dll";
#endif

std::unique_ptr<BYTE[]> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind)
{
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    if (size == 0)
        return nullptr;
    std::unique_ptr<BYTE[]> data(new BYTE[size]);
    if (!GetTokenInformation(token, kind, data.get(), size, &size))
        return nullptr;
    return data;
}

// The integrity level's relative id; 0 when the system has none to tell.
DWORD IntegrityOf(HANDLE token)
{
    const auto data = TokenInformation(token, TokenIntegrityLevel);
    if (!data)
        return 0;
    const PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(data.get())->Label.Sid;
    const UCHAR count = *GetSidSubAuthorityCount(sid);
    return count > 0 ? *GetSidSubAuthority(sid, count - 1u) : 0;
}

// What a shell is told: it runs already, and client.db is in the install
// folder, not beside the copy it loads.
injection::Handoff ShellHandoff(const std::wstring& installFolder)
{
    injection::Handoff handoff;
    handoff.resident = true;
    handoff.configFolder = installFolder;
    return handoff;
}

}  // namespace

bool MayAttach(HANDLE process)
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &raw))
        return false;
    const UniqueKernelHandle theirs(raw);
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        return false;
    const UniqueKernelHandle mine(raw);
    const auto theirUser = TokenInformation(theirs.Get(), TokenUser);
    const auto myUser = TokenInformation(mine.Get(), TokenUser);
    if (!theirUser || !myUser ||
        !EqualSid(reinterpret_cast<TOKEN_USER*>(theirUser.get())->User.Sid,
                  reinterpret_cast<TOKEN_USER*>(myUser.get())->User.Sid))
        return false;
    return IntegrityOf(theirs.Get()) <= IntegrityOf(mine.Get());
}

ShellAttacher::ShellAttacher(std::wstring copyFolder, std::wstring installFolder)
    : m_copyFolder(std::move(copyFolder)), m_installFolder(std::move(installFolder))
{
    ProcessIdToSessionId(GetCurrentProcessId(), &m_session);
}

void ShellAttacher::Remember(DWORD id, UniqueKernelHandle process)
{
    m_carrying.push_back({id, std::move(process)});
    m_notBefore.erase(id);
}

void ShellAttacher::Scan()
{
    // Shells that ended: their ids may come back as new shells.
    m_carrying.erase(std::remove_if(m_carrying.begin(), m_carrying.end(),
                                    [](const Shell& shell) {
                                        return WaitForSingleObject(shell.process.Get(), 0) ==
                                               WAIT_OBJECT_0;
                                    }),
                     m_carrying.end());
    const HANDLE list = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (list == INVALID_HANDLE_VALUE)
        return;
    const UniqueKernelHandle snapshot(list);
    const ULONGLONG now = GetTickCount64();
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        const DWORD id = entry.th32ProcessID;
        if (_wcsicmp(entry.szExeFile, kShellImage) != 0 || id == GetCurrentProcessId())
            continue;
        if (std::any_of(m_carrying.begin(), m_carrying.end(),
                        [id](const Shell& shell) { return shell.id == id; }))
            continue;
        const auto wait = m_notBefore.find(id);
        if (wait != m_notBefore.end() && now < wait->second)
            continue;
        DWORD session = 0;
        if (!ProcessIdToSessionId(id, &session) || session != m_session)
            continue;
        const HANDLE process = OpenProcess(
            injection::kResidentStartAccess | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
        if (process == nullptr) {
            m_notBefore[id] = now + kRetryMs;
            continue;
        }
        UniqueKernelHandle owned(process);
        if (!MayAttach(process)) {
            m_notBefore[id] = now + kForeignRetryMs;
            continue;
        }
        if (injection::IsCarrying(id) || Attach(process, id))
            Remember(id, std::move(owned));
        else
            m_notBefore[id] = now + kRetryMs;
    }
}

std::vector<HANDLE> ShellAttacher::Held() const
{
    std::vector<HANDLE> held;
    for (const Shell& shell : m_carrying)
        held.push_back(shell.process.Get());
    return held;
}

bool ShellAttacher::Attach(HANDLE process, DWORD id)
{
    bool same = false;
    if (!injection::QuerySameWidth(process, same))
        return false;
    if (!same)
        return AttachOtherWidth(id);
    return injection::StartInRunningProcess(
        process, m_copyFolder + L"\\" + injection::kHookLibraryFile, ShellHandoff(m_installFolder));
}

// A shell of the other width gets the library from the other launcher.
bool ShellAttacher::AttachOtherWidth(DWORD id)
{
    const std::wstring launcher = m_copyFolder + L"\\" + injection::kOtherWidthLauncherFile;
    if (GetFileAttributesW((m_copyFolder + L"\\" + kOtherLibrary).c_str()) ==
        INVALID_FILE_ATTRIBUTES)
        return false;
    const injection::Handoff handoff = ShellHandoff(m_installFolder);
    const std::string arguments = std::string(" ") + injection::kShellSwitch + " " +
                                  std::to_string(id) + " " + injection::EncodeHandoff(handoff);
    std::wstring line = L"\"" + launcher + L"\"";
    line.append(arguments.begin(), arguments.end());  // ASCII only
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(launcher.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &info))
        return false;
    const UniqueKernelHandle child(info.hProcess);
    const UniqueKernelHandle thread(info.hThread);
    DWORD code = 1;
    if (WaitForSingleObject(child.Get(), kOtherLauncherTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(child.Get(), 1);
        return false;
    }
    return GetExitCodeProcess(child.Get(), &code) && code == 0;
}

}  // namespace agent
