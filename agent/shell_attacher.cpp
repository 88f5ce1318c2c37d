// agent/shell_attacher.cpp
#include "agent/shell_attacher.h"

#include <winternl.h>

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
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

using QuerySystemInformation = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);

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
    const ULONGLONG now = GetTickCount64();
    for (const DWORD id : SessionShells()) {
        if (std::any_of(m_carrying.begin(), m_carrying.end(),
                        [id](const Shell& shell) { return shell.id == id; }))
            continue;
        const auto wait = m_notBefore.find(id);
        if (wait != m_notBefore.end() && now < wait->second)
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

// The system's own process list, not a toolhelp snapshot: a third of the
// cost, and each entry has its session.
std::vector<DWORD> ShellAttacher::SessionShells()
{
    static const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<DWORD> shells;
    if (query == nullptr)
        return shells;
    if (m_processList.empty())
        m_processList.resize(64 * 1024);
    for (;;) {
        ULONG needed = 0;
        const NTSTATUS status =
            query(SystemProcessInformation, m_processList.data(),
                  static_cast<ULONG>(m_processList.size()), &needed);
        if (status == kInfoLengthMismatch && m_processList.size() < 64u * 1024 * 1024) {
            m_processList.resize(std::max<std::size_t>(needed + 16 * 1024,
                                                       m_processList.size() * 2));
            continue;
        }
        if (status < 0)
            return shells;
        break;
    }
    const std::size_t shellLength = std::wcslen(kShellImage);
    for (std::size_t offset = 0;;) {
        const auto* entry =
            reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(m_processList.data() + offset);
        const DWORD id = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->UniqueProcessId));
        if (entry->SessionId == m_session && id != GetCurrentProcessId() &&
            entry->ImageName.Buffer != nullptr &&
            entry->ImageName.Length == shellLength * sizeof(wchar_t) &&
            _wcsnicmp(entry->ImageName.Buffer, kShellImage, shellLength) == 0)
            shells.push_back(id);
        if (entry->NextEntryOffset == 0 ||
            offset + entry->NextEntryOffset + sizeof(SYSTEM_PROCESS_INFORMATION) >
                m_processList.size())
            break;
        offset += entry->NextEntryOffset;
    }
    return shells;
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
