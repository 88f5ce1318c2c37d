// client/program_list_page.h
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "controls/tip_list_ctrl.h"
#include "framework/button.h"
#include "framework/dialog.h"
#include "framework/gui_handles.h"

// Sizes of the path buffers of a drop and of a shortcut's target. A longer
// path is refused as a whole rather than cut into another path.
constexpr std::size_t kDropPathSize = 520;
constexpr std::size_t kShortcutTextSize = 520;

// The page that says which programs go through the proxy: "ApplyArea" (all
// programs or only the listed ones) and the App table, one row per program.
class CProgramListPage : public CDialog {
public:
    CProgramListPage();
    ~CProgramListPage() override;
    bool PreTranslateMessage(MSG* msg) override;

    // Shows the program at path as a new first item. False when nothing
    // exists at path.
    bool AddProgram(const std::string& path);
    void LoadPrograms();
    void LoadApplyArea();
    void SaveApplyArea();
    void UpdateListEnable();
    // The file's first icon, else the program's own; the caller owns it.
    UniqueIcon GetProgramIcon(const std::string& path) const;

    static bool IsShortcutPath(const std::string& path);
    // True only when the link was loaded and its target, working directory
    // and description were all read; the target fits kShortcutTextSize.
    static bool ResolveShortcut(const std::string& shortcut, std::string& target,
                                std::string& workingDirectory, std::string& description);

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    void OnAdd();
    void OnDelete();
    void OnDropFiles(HDROP drop);

    CButton m_addButton;
    CButton m_deleteButton;
    CTipListCtrl m_programList;
    CButton m_applyAll;
    CButton m_applyList;
    // One image per item ever added; the list only borrows it.
    UniqueImageList m_programIcons;
    // The full path of every item ever added; an item's data is its index here.
    std::vector<std::string> m_programPaths;
};
