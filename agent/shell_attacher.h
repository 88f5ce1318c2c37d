// agent/shell_attacher.h
// Finds the user's shells (every process of this session named explorer.exe:
// the desktop and the processes Explorer may use for folder windows) and puts
// the library into each that does not carry it yet. Processes of other users,
// other sessions or a higher integrity level are never touched; one that
// cannot be opened or attached now is tried again a little later.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "framework/handles.h"

namespace agent {

class ShellAttacher {
public:
    // `copyFolder`: where the libraries and launchers are loaded from;
    // `installFolder`: where client.db is.
    ShellAttacher(std::wstring copyFolder, std::wstring installFolder);

    // One look at the running processes.
    void Scan();
    // The shells carrying the library, to be told when one ends.
    std::vector<HANDLE> Held() const;

private:
    struct Shell {
        DWORD id;
        UniqueKernelHandle process;  // held, so that the id cannot be reused meanwhile
    };

    // Ids of this session's processes named explorer.exe, but this one.
    std::vector<DWORD> SessionShells();
    bool Attach(HANDLE process, DWORD id);
    bool AttachOtherWidth(DWORD id);
    void Remember(DWORD id, UniqueKernelHandle process);

    std::wstring m_copyFolder;
    std::wstring m_installFolder;
    DWORD m_session = 0;
    std::vector<Shell> m_carrying;
    std::map<DWORD, ULONGLONG> m_notBefore;  // by process id: when to try again
    std::vector<BYTE> m_processList;         // kept between scans: it seldom grows
};

// Whether a process is the same user's, at no higher integrity level.
bool MayAttach(HANDLE process);

}  // namespace agent
