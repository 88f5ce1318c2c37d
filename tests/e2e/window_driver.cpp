// tests/e2e/window_driver.cpp
#include "tests/e2e/window_driver.h"

#include <commctrl.h>

#include <vector>

#include "tests/e2e/remote_buffer.h"

namespace e2e {

namespace {

// A window that does not answer a sent message within this time is hung.
const UINT kReplyMs = 5000;

}  // namespace

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(20);
    }
}

DWORD ProcessOf(HWND window)
{
    DWORD processId = 0;
    if (window != nullptr)
        GetWindowThreadProcessId(window, &processId);
    return processId;
}

HWND FindWindowOf(const char* className, DWORD processId)
{
    HWND window = FindWindowA(className, nullptr);
    return window != nullptr && ProcessOf(window) == processId ? window : nullptr;
}

namespace {

struct TopLevelSearch {
    DWORD processId;
    const std::function<bool(HWND)>* match;
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<TopLevelSearch*>(param);
    if (ProcessOf(window) != search->processId || !(*search->match)(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

HWND FindTopLevel(DWORD processId, const std::function<bool(HWND)>& match)
{
    TopLevelSearch search = {processId, &match, nullptr};
    EnumWindows(&MatchTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string WindowText(HWND window)
{
    char text[1024] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, kReplyMs, &copied))
        return std::string();
    return std::string(text, copied < sizeof(text) ? copied : 0);
}

int TabCount(HWND tab)
{
    return static_cast<int>(SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0));
}

int TabSelection(HWND tab)
{
    return static_cast<int>(SendMessageA(tab, TCM_GETCURSEL, 0, 0));
}

bool TabItemText(HWND tab, int index, std::string& text)
{
    const int textSize = 256;
    RemoteBuffer remote(ProcessOf(tab), sizeof(TCITEMA) + textSize);
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = remote.At(sizeof(TCITEMA));
    item.cchTextMax = textSize;
    std::vector<char> buffer(textSize, '\0');
    if (!remote.Write(0, &item, sizeof(item)) ||
        !remote.Write(sizeof(TCITEMA), buffer.data(), buffer.size()) ||
        !SendMessageA(tab, TCM_GETITEMA, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(remote.At(0))) ||
        !remote.Read(0, &item, sizeof(item)))
        return false;
    // The control may answer with a pointer to its own copy of the text.
    const std::size_t offset = static_cast<std::size_t>(item.pszText - remote.At(0));
    if (offset != sizeof(TCITEMA) || !remote.Read(offset, buffer.data(), buffer.size() - 1))
        return false;
    text = buffer.data();
    return true;
}

bool TabItemRect(HWND tab, int index, RECT& rect)
{
    RemoteBuffer remote(ProcessOf(tab), sizeof(RECT));
    return SendMessageA(tab, TCM_GETITEMRECT, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(remote.At(0))) &&
           remote.Read(0, &rect, sizeof(rect));
}

bool ClickTab(HWND tab, int index)
{
    RECT item;
    if (!TabItemRect(tab, index, item))
        return false;
    const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    return PostMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, at) &&
           PostMessageA(tab, WM_LBUTTONUP, 0, at);
}

std::vector<std::string> ListViewLabels(DWORD processId, HWND list)
{
    std::vector<std::string> labels;
    RemoteBuffer buffer(processId, sizeof(LVITEMA) + MAX_PATH);
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count && buffer.Valid(); ++i) {
        LVITEMA item = {};
        item.pszText = buffer.At(sizeof item);
        item.cchTextMax = MAX_PATH;
        char text[MAX_PATH] = {};
        buffer.Write(0, &item, sizeof item);
        SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(buffer.At(0)));
        buffer.Read(sizeof item, text, sizeof text - 1);
        labels.push_back(text);
    }
    return labels;
}

bool ClickButton(HWND button)
{
    return SendMessageWaiting(button, BM_CLICK, 0, 0);
}

bool PostCommand(HWND window, WORD id)
{
    return PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0) != FALSE;
}

bool SendMessageWaiting(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kReplyMs, &result) !=
           0;
}

bool ChooseInFileDialog(DWORD processId, HWND owner, const std::string& path)
{
    HWND dialog = nullptr;
    if (!WaitUntil([&] {
            dialog = FindTopLevel(processId, [&](HWND window) {
                char className[16] = {};
                GetClassNameA(window, className, sizeof className);
                return window != owner && IsWindowVisible(window) &&
                       std::string(className) == "#32770";
            });
            return dialog != nullptr;
        }))
        return false;
    if (path.empty()) {
        if (!PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0))
            return false;
    } else {
        const int kFileNameField = 1148;  // the combo box cmb13
        SendMessageA(GetDlgItem(dialog, kFileNameField), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(path.c_str()));
        if (!PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0))
            return false;
    }
    return WaitUntil([&] { return !IsWindow(dialog); });
}

bool BringToFront(HWND window)
{
    SetForegroundWindow(window);
    return WaitUntil([&] { return GetForegroundWindow() == window; });
}

bool PressKeys(std::initializer_list<WORD> heldKeys, WORD key)
{
    std::vector<INPUT> inputs;
    auto add = [&](WORD vk, bool up) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    for (WORD held : heldKeys)
        add(held, false);
    add(key, false);
    add(key, true);
    for (auto held = std::rbegin(heldKeys); held != std::rend(heldKeys); ++held)
        add(*held, true);
    return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) ==
           inputs.size();
}

namespace {

// Mouse input at point, in the absolute coordinates SendInput takes.
INPUT MouseAt(POINT point, DWORD flags)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(point.x, 65536, GetSystemMetrics(SM_CXSCREEN)) + 1;
    input.mi.dy = MulDiv(point.y, 65536, GetSystemMetrics(SM_CYSCREEN)) + 1;
    input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | flags;
    return input;
}

}  // namespace

POINT CentreOf(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

bool MoveMouseTo(POINT point)
{
    INPUT input = MouseAt(point, MOUSEEVENTF_MOVE);
    return SendInput(1, &input, sizeof(INPUT)) == 1;
}

bool ClickAtScreen(POINT point, int clicks, bool right)
{
    std::vector<INPUT> inputs = {MouseAt(point, MOUSEEVENTF_MOVE)};
    for (int i = 0; i < clicks; ++i) {
        inputs.push_back(MouseAt(point, right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN));
        inputs.push_back(MouseAt(point, right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP));
    }
    return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) ==
           inputs.size();
}

}  // namespace e2e
