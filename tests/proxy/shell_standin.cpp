// tests/proxy/shell_standin.cpp
// Takes the user's shell's place (as explorer.exe) in the resident agent's
// cases: a message-only window (the proxy tests run without a display, where
// Wine makes no other kind) of class "KestrelTestShell" titled with the first
// argument, so that each case finds its own shell. A case sends it
// one command by WM_COPYDATA (UTF-8 or ANSI text) and reads the answer from
// SendMessage's result:
//   createprocess LINE        CreateProcessW: 0 or GetLastError
//   shellexecute FILE\tARGS   ShellExecuteExW, "open": 0 or GetLastError
//   connect ADDRESS PORT      a blocking connect of its own and one echoed
//                             line: 0 or the Winsock error (-1 wrong echo)
//   carrying                  1 when a KestrelHook* module is loaded, else 0
//   exit                      ends it
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <string>

namespace {

std::wstring Wide(const char* text, int size)
{
    // UTF-8 when it is valid UTF-8, the ANSI code page otherwise.
    UINT page = CP_UTF8;
    int length = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text, size, nullptr, 0);
    if (length <= 0) {
        page = CP_ACP;
        length = MultiByteToWideChar(page, 0, text, size, nullptr, 0);
    }
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(page, 0, text, size, &wide[0], length);
    return wide;
}

LRESULT StartProcess(std::wstring line)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return static_cast<LRESULT>(GetLastError());
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return 0;
}

LRESULT Execute(const std::wstring& what)
{
    const std::size_t tab = what.find(L'\t');
    const std::wstring file = what.substr(0, tab);
    const std::wstring parameters = tab == std::wstring::npos ? L"" : what.substr(tab + 1);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info))
        return static_cast<LRESULT>(GetLastError());
    if (info.hProcess != nullptr)
        CloseHandle(info.hProcess);
    return 0;
}

LRESULT ConnectOwn(const std::wstring& where)
{
    const std::size_t space = where.find(L' ');
    if (space == std::wstring::npos)
        return -1;
    const std::string address(where.begin(), where.begin() + static_cast<long>(space));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = inet_addr(address.c_str());
    to.sin_port = htons(static_cast<u_short>(_wtoi(where.c_str() + space + 1)));
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    LRESULT result = 0;
    const char line[] = "kestrel shell echo\n";
    char back[sizeof line - 1] = {};
    int got = 0;
    if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 ||
        send(s, line, sizeof line - 1, 0) != static_cast<int>(sizeof line - 1)) {
        result = WSAGetLastError();
    } else {
        for (int count = 1; got < static_cast<int>(sizeof back) && count > 0; got += count)
            count = recv(s, back + got, static_cast<int>(sizeof back) - got, 0);
        if (got < static_cast<int>(sizeof back) || std::string(back, sizeof back) != line)
            result = -1;
    }
    closesocket(s);
    return result;
}

LRESULT Carrying()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    LRESULT found = 0;
    for (BOOL more = Module32FirstW(snapshot, &module); more && found == 0;
         more = Module32NextW(snapshot, &module))
        found = _wcsnicmp(module.szModule, L"KestrelHook", 11) == 0;
    CloseHandle(snapshot);
    return found;
}

LRESULT Command(HWND window, const COPYDATASTRUCT& data)
{
    const std::wstring text =
        Wide(static_cast<const char*>(data.lpData), static_cast<int>(data.cbData));
    const std::size_t space = text.find(L' ');
    const std::wstring verb = text.substr(0, space);
    const std::wstring rest = space == std::wstring::npos ? L"" : text.substr(space + 1);
    if (verb == L"createprocess")
        return StartProcess(rest);
    if (verb == L"shellexecute")
        return Execute(rest);
    if (verb == L"connect")
        return ConnectOwn(rest);
    if (verb == L"carrying")
        return Carrying();
    if (verb == L"exit") {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    }
    return -2;
}

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA)
        return Command(window, *reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const std::wstring title = count > 1 ? arguments[1] : L"";
    LocalFree(arguments);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"KestrelTestShell";
    if (RegisterClassW(&windowClass) == 0 ||
        CreateWindowW(L"KestrelTestShell", title.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                      instance, nullptr) == nullptr)
        return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    WSACleanup();
    return 0;
}
