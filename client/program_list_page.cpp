// client/program_list_page.cpp
#include "client/program_list_page.h"

#include <windows.h>
#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>

#include "client/resource.h"
#include "common/config_notify.h"
#include "common/module_dir.h"
#include "framework/app.h"
#include "framework/com_ptr.h"
#include "store/config_db.h"

namespace {

const char kApplyAreaKey[] = "ApplyArea";
const char kApplyAll[] = "All";
const char kApplyProgramList[] = "ProgramList";

bool PathExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Where ch last stands in path as a character of its own (a trail byte of a
// double-byte character may have the same value), or npos.
std::size_t FindLastChar(const std::string& path, char ch)
{
    std::size_t found = std::string::npos;
    for (const char* p = path.c_str(); *p; p = CharNextA(p)) {
        if (*p == ch)
            found = static_cast<std::size_t>(p - path.c_str());
    }
    return found;
}

std::string FileNameOf(const std::string& path)
{
    std::size_t separator = FindLastChar(path, '/');
    if (separator == std::string::npos)
        separator = FindLastChar(path, '\\');
    return separator == std::string::npos ? std::string() : path.substr(separator + 1);
}

// From the last dot of the file name on; empty when it has none.
std::string ExtensionOf(const std::string& path)
{
    const std::size_t slash = FindLastChar(path, '/');
    const std::size_t backslash = FindLastChar(path, '\\');
    std::size_t nameStart = 0;
    if (slash != std::string::npos)
        nameStart = slash + 1;
    if (backslash != std::string::npos && backslash + 1 > nameStart)
        nameStart = backslash + 1;
    const std::string name = path.substr(nameStart);
    const std::size_t dot = FindLastChar(name, '.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

bool EqualIgnoringCase(const std::string& a, const char* b)
{
    return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.c_str(), -1, b, -1) ==
           CSTR_EQUAL;
}

CConfigDb OpenConfig()
{
    CConfigDb db;
    db.SetDbPath(GetClientDbPath());
    return db;
}

}  // namespace

CProgramListPage::CProgramListPage() : CDialog(IDD_PROGRAM_LIST_PAGE) {}

CProgramListPage::~CProgramListPage()
{
    // A list that outlives this object must not keep drawing from our images.
    if (m_programList.GetSafeHwnd())
        m_programList.SetImageList(nullptr, LVSIL_NORMAL);
}

bool CProgramListPage::PreTranslateMessage(MSG* msg)
{
    if (IsEscapeKeyMessage(*msg))
        return true;
    return CDialog::PreTranslateMessage(msg);
}

void CProgramListPage::DoDataExchange(CDataExchange& dx)
{
    DDX_Control(dx, IDC_ADD_PROGRAM, m_addButton);
    DDX_Control(dx, IDC_DELETE_PROGRAM, m_deleteButton);
    DDX_Control(dx, IDC_PROGRAM_LIST, m_programList);
    DDX_Control(dx, IDC_APPLY_ALL, m_applyAll);
    DDX_Control(dx, IDC_APPLY_LIST, m_applyList);
}

bool CProgramListPage::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_programIcons.Reset(ImageList_Create(32, 32, ILC_COLOR8, 0, 4));
    m_programList.SetImageList(m_programIcons.Get(), LVSIL_NORMAL);
    // A program's full path shows while the mouse rests on its icon.
    m_programList.EnableToolTips();
    m_programList.SetToolTipHitMask(LVHT_ONITEMICON);
    LoadPrograms();
    LoadApplyArea();
    UpdateListEnable();
    return true;
}

void CProgramListPage::LoadPrograms()
{
    std::vector<std::string> apps;
    OpenConfig().LoadApps(apps);
    // A program whose file is gone stays in the table, unseen.
    for (const std::string& path : apps)
        AddProgram(path);
}

bool CProgramListPage::AddProgram(const std::string& path)
{
    if (!PathExists(path))
        return false;
    m_programList.SetRedraw(false);
    const UniqueIcon icon = GetProgramIcon(path);
    // The image list keeps its own copy of the picture.
    const int image = ImageList_AddIcon(m_programIcons.Get(), icon.Get());
    const int item = m_programList.InsertItem(0, FileNameOf(path), image);
    m_programPaths.push_back(path);
    m_programList.SetItemData(item, static_cast<LPARAM>(m_programPaths.size() - 1));
    m_programList.SetItemToolTipText(item, 0, path);
    m_programList.SetRedraw(true);
    return true;
}

UniqueIcon CProgramListPage::GetProgramIcon(const std::string& path) const
{
    const HINSTANCE instance = GetResourceInstance();
    UniqueIcon icon;
    if (ExtractIconA(instance, path.c_str(), static_cast<UINT>(-1)) != nullptr)
        icon.Reset(ExtractIconA(instance, path.c_str(), 0));
    // Loaded as a copy of our own, not the shared one, so that it can be
    // destroyed like an extracted icon.
    if (!icon)
        icon.Reset(static_cast<HICON>(
            LoadImageA(instance, MAKEINTRESOURCEA(IDI_KESTREL), IMAGE_ICON, 32, 32, 0)));
    return icon;
}

bool CProgramListPage::IsShortcutPath(const std::string& path)
{
    // Characters, not bytes: the last four must be characters of their own.
    std::vector<std::size_t> starts;
    for (const char* p = path.c_str(); *p; p = CharNextA(p))
        starts.push_back(static_cast<std::size_t>(p - path.c_str()));
    if (starts.size() < 5)
        return false;
    return EqualIgnoringCase(path.substr(starts[starts.size() - 4]), ".lnk");
}

bool CProgramListPage::ResolveShortcut(const std::string& shortcut, std::string& target,
                                       std::string& workingDirectory, std::string& description)
{
    if (shortcut.empty())
        return false;
    if (CWinApp* app = CWinApp::Get())
        app->EnsureOleInitialized();

    ComPtr<IShellLinkA> link;
    if (CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                         reinterpret_cast<void**>(link.Out())) != S_OK)
        return false;
    const ComPtr<IPersistFile> file = link.As<IPersistFile>(IID_IPersistFile);
    if (!file)
        return false;
    WCHAR widePath[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, shortcut.c_str(), -1, widePath, MAX_PATH) == 0 ||
        file->Load(widePath, STGM_READ) != S_OK)
        return false;

    // Twice the room the target may take: a longer one is seen to be longer
    // instead of arriving cut short.
    char path[2 * kShortcutTextSize] = {};
    char directory[kShortcutTextSize] = {};
    char text[kShortcutTextSize] = {};
    if (link->GetPath(path, sizeof path, nullptr, SLGP_UNCPRIORITY) != S_OK ||
        link->GetWorkingDirectory(directory, sizeof directory) != S_OK ||
        link->GetDescription(text, sizeof text) != S_OK)
        return false;
    if (std::strlen(path) >= kShortcutTextSize)
        return false;
    target = path;
    workingDirectory = directory;
    description = text;
    return true;
}

void CProgramListPage::LoadApplyArea()
{
    std::string value;
    if (OpenConfig().GetSetting(kApplyAreaKey, value) && value == kApplyAll)
        m_applyAll.SetCheck(true);
    else
        m_applyList.SetCheck(true);
}

void CProgramListPage::SaveApplyArea()
{
    OpenConfig().SetSetting(kApplyAreaKey, m_applyAll.IsChecked() ? kApplyAll : kApplyProgramList);
}

void CProgramListPage::UpdateListEnable()
{
    const bool listed = !m_applyAll.IsChecked();
    EnableWindow(m_programList.GetSafeHwnd(), listed ? TRUE : FALSE);
    m_addButton.Enable(listed);
    m_deleteButton.Enable(listed);
}

void CProgramListPage::OnAdd()
{
    char chosen[MAX_PATH] = "*.exe;*.lnk";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = GetSafeHwnd();
    dialog.lpstrFilter = "ExecuteFiles(*.exe;*.lnk)\0*.exe;*.lnk\0";
    dialog.lpstrFile = chosen;
    dialog.nMaxFile = sizeof chosen;
    dialog.lpstrDefExt = "'OpenFile";
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    // A path longer than the buffer ends the dialog with a failure, like
    // Cancel: it is never taken cut short.
    if (GetOpenFileNameA(&dialog) && PathExists(chosen)) {
        std::string path = chosen;
        std::string target, directory, description;
        // A shortcut that cannot be resolved is listed as itself.
        if (IsShortcutPath(path) && ResolveShortcut(path, target, directory, description))
            path = target;
        if (OpenConfig().AddApp(path))
            AddProgram(path);
    }
    NotifyConfigChanged();
}

void CProgramListPage::OnDelete()
{
    const int selected = m_programList.GetSelectedCount();
    for (int i = 0; i < selected; ++i) {
        const int item = m_programList.GetFirstSelected();
        if (item < 0)
            break;
        const LPARAM data = m_programList.GetItemData(item);
        if (data >= 0 && static_cast<std::size_t>(data) < m_programPaths.size())
            OpenConfig().DeleteApp(m_programPaths[static_cast<std::size_t>(data)]);
        // The path and the image stay: item data must stay unique.
        m_programList.DeleteItem(item);
    }
    NotifyConfigChanged();
}

void CProgramListPage::OnDropFiles(HDROP drop)
{
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileA(drop, i, nullptr, 0);
        if (length == 0 || length >= kDropPathSize)
            continue;
        char buffer[kDropPathSize] = {};
        DragQueryFileA(drop, i, buffer, sizeof buffer);
        std::string path(buffer, length);
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        std::string target, directory, description;
        if (IsShortcutPath(path) && ResolveShortcut(path, target, directory, description))
            path = target;
        // Programs only: a shortcut counts when it leads to one.
        if (!EqualIgnoringCase(ExtensionOf(path), ".exe"))
            continue;
        if (OpenConfig().AddApp(path))
            AddProgram(path);
    }
    DragFinish(drop);
    RedrawWindow(GetSafeHwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    NotifyConfigChanged();
}

bool CProgramListPage::OnCommand(int id, int code, HWND control)
{
    if (code == BN_CLICKED) {
        switch (id) {
        case IDC_ADD_PROGRAM:
            OnAdd();
            return true;
        case IDC_DELETE_PROGRAM:
            OnDelete();
            return true;
        case IDC_APPLY_ALL:
        case IDC_APPLY_LIST:
            UpdateListEnable();
            return true;
        default:
            break;
        }
    }
    return CDialog::OnCommand(id, code, control);
}

bool CProgramListPage::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    switch (msg) {
    case WM_DROPFILES:
        OnDropFiles(reinterpret_cast<HDROP>(wParam));
        *result = 0;
        return true;
    case WM_SHOWWINDOW:
        // Leaving the page is when the scope setting reaches the database.
        if (!wParam) {
            SaveApplyArea();
            NotifyConfigChanged();
        }
        return CDialog::OnMessage(msg, wParam, lParam, result);
    case WM_DESTROY: {
        const bool handled = CDialog::OnMessage(msg, wParam, lParam, result);
        // Taken back before the list goes: a list view destroys the image
        // lists it still holds, and this one is ours to destroy.
        m_programList.SetImageList(nullptr, LVSIL_NORMAL);
        SaveApplyArea();
        return handled;
    }
    default:
        return CDialog::OnMessage(msg, wParam, lParam, result);
    }
}
