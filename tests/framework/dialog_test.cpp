// tests/framework/dialog_test.cpp
// The framework in real windows: how modal runs end, the order in which
// windows see a message before dialog key processing, and where commands and
// notifications are delivered.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/app.h"
#include "framework/dialog.h"
#include "tests/framework/test_ids.h"

namespace {

using Log = std::vector<std::string>;

// What a window does with a message in pre-translation.
enum class PreTranslate { Consume, DialogKeys, PassOn };

class TestDialog : public CDialog {
public:
    explicit TestDialog(UINT templateId = IDD_TEST_MODAL) : CDialog(templateId) {}

    std::function<void(TestDialog&)> onInit;
    std::function<void()> onButton;
    std::function<PreTranslate(const MSG&)> onPreTranslate;
    bool failValidation = false;
    std::vector<std::pair<int, int>> commands;
    std::vector<UINT> notifications;

    bool PreTranslateMessage(MSG* msg) override
    {
        switch (onPreTranslate ? onPreTranslate(*msg) : PreTranslate::DialogKeys) {
        case PreTranslate::Consume:
            return true;
        case PreTranslate::PassOn:
            return false;
        case PreTranslate::DialogKeys:
            break;
        }
        return CDialog::PreTranslateMessage(msg);
    }

protected:
    bool OnInitDialog() override
    {
        CDialog::OnInitDialog();
        if (onInit)
            onInit(*this);
        return true;
    }
    void DoDataExchange(CDataExchange& dx) override
    {
        if (dx.IsSaving() && failValidation) {
            dx.PrepareControl(IDC_TEST_BUTTON);
            dx.Fail();
        }
    }
    bool OnCommand(int id, int code, HWND control) override
    {
        commands.emplace_back(id, code);
        if (id == IDC_TEST_BUTTON && onButton) {
            onButton();
            return true;
        }
        return CDialog::OnCommand(id, code, control);
    }
    bool OnNotify(int, NMHDR* header, LRESULT* result) override
    {
        notifications.push_back(header->code);
        *result = 0;
        return true;
    }
};

// A control with an object of its own, recording what reaches it.
class RecordingControl : public CWnd {
public:
    explicit RecordingControl(Log* log = nullptr, const char* name = "") : m_log(log), m_name(name)
    {
    }
    bool handleNotifications = false;
    std::vector<UINT> childNotifications;

    bool PreTranslateMessage(MSG* msg) override
    {
        if (m_log && msg->message == WM_KEYDOWN)
            m_log->push_back(m_name);
        return false;
    }
    bool OnChildNotify(UINT msg, WPARAM, LPARAM, LRESULT* result) override
    {
        childNotifications.push_back(msg);
        if (!handleNotifications)
            return false;
        *result = 0;
        return true;
    }

private:
    Log* m_log;
    std::string m_name;
};

void PostCommand(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

TEST(ModalRun, EndsWithTheCodeOfHowItWasEnded)
{
    {
        TestDialog dialog;
        bool shown = true;
        dialog.onInit = [&](TestDialog& d) {
            d.EndDialog(7);
            shown = IsWindowVisible(d.GetSafeHwnd()) != FALSE;
        };
        EXPECT_EQ(dialog.DoModal(), 7);
        EXPECT_FALSE(shown);
        EXPECT_EQ(dialog.GetSafeHwnd(), nullptr)
            << "the window is destroyed and the object detached";
    }
    {
        TestDialog dialog;
        dialog.onInit = [](TestDialog& d) { PostMessageA(d.GetSafeHwnd(), WM_CLOSE, 0, 0); };
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    }
    {
        TestDialog dialog;
        dialog.onInit = [](TestDialog& d) { PostCommand(d.GetSafeHwnd(), IDOK); };
        EXPECT_EQ(dialog.DoModal(), IDOK);
    }
    {
        // Values that fail validation keep the dialog open, focused on the
        // failing field (the edit control has the focus before).
        TestDialog dialog;
        bool focusOnFailingField = false;
        dialog.failValidation = true;
        dialog.onInit = [&](TestDialog& d) {
            PostCommand(d.GetSafeHwnd(), IDOK);
            PostCommand(d.GetSafeHwnd(), IDC_TEST_BUTTON);
        };
        dialog.onButton = [&] {
            focusOnFailingField = GetFocus() == dialog.GetDlgItem(IDC_TEST_BUTTON);
            dialog.EndDialog(42);
        };
        EXPECT_EQ(dialog.DoModal(), 42);
        EXPECT_TRUE(focusOnFailingField);
    }
    EXPECT_EQ(TestDialog(IDD_TEST_MISSING).DoModal(), -1);
}

TEST(ModalRun, QuitRequestEndsTheRunAndIsPassedOn)
{
    TestDialog dialog;
    dialog.onInit = [](TestDialog&) { PostQuitMessage(3); };
    EXPECT_EQ(dialog.DoModal(), -1);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
}

TEST(ModalRun, NestedRunDisablesItsOwnerUntilItEnds)
{
    TestDialog outer;
    bool ownerEnabledDuringNested = true;
    INT_PTR nestedCode = 0;
    outer.onInit = [](TestDialog& d) { PostCommand(d.GetSafeHwnd(), IDC_TEST_BUTTON); };
    outer.onButton = [&] {
        TestDialog nested;
        nested.onInit = [](TestDialog& d) { PostCommand(d.GetSafeHwnd(), IDC_TEST_BUTTON); };
        nested.onButton = [&] {
            ownerEnabledDuringNested = IsWindowEnabled(outer.GetSafeHwnd()) != FALSE;
            nested.EndDialog(5);
        };
        nestedCode = nested.DoModal(outer.GetSafeHwnd());
        EXPECT_TRUE(IsWindowEnabled(outer.GetSafeHwnd()));
        outer.EndDialog(6);
    };
    EXPECT_EQ(outer.DoModal(), 6);
    EXPECT_EQ(nestedCode, 5);
    EXPECT_FALSE(ownerEnabledDuringNested);
}

POINT CentreOf(HWND hwnd)
{
    RECT rect = {};
    GetWindowRect(hwnd, &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

POINT CentreOfWorkArea(HWND hwnd)
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoA(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &monitor);
    return {(monitor.rcWork.left + monitor.rcWork.right) / 2,
            (monitor.rcWork.top + monitor.rcWork.bottom) / 2};
}

// Rounding of odd sizes aside.
void ExpectNear(POINT actual, POINT expected, const char* what)
{
    EXPECT_LE(std::abs(actual.x - expected.x), 1) << what;
    EXPECT_LE(std::abs(actual.y - expected.y), 1) << what;
}

TEST(ModalRun, OpensCentredUnlessItsInitialisationPlacedIt)
{
    TestDialog outer;
    POINT screenCentre = {}, outerCentre = {}, nestedCentre = {}, ownerCentre = {};
    RECT placed = {};
    outer.onInit = [&](TestDialog& d) {
        screenCentre = CentreOfWorkArea(d.GetSafeHwnd());
        PostCommand(d.GetSafeHwnd(), IDC_TEST_BUTTON);
    };
    outer.onButton = [&] {
        outerCentre = CentreOf(outer.GetSafeHwnd());
        // Off centre, so that a nested dialog centred on the screen instead
        // of over its owner would show.
        SetWindowPos(outer.GetSafeHwnd(), nullptr, 20, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);

        TestDialog nested;
        nested.onInit = [](TestDialog& d) { PostCommand(d.GetSafeHwnd(), IDC_TEST_BUTTON); };
        nested.onButton = [&] {
            nestedCentre = CentreOf(nested.GetSafeHwnd());
            ownerCentre = CentreOf(outer.GetSafeHwnd());
            nested.EndDialog(1);
        };
        nested.DoModal(outer.GetSafeHwnd());

        TestDialog placedByItself;
        placedByItself.onInit = [](TestDialog& d) {
            SetWindowPos(d.GetSafeHwnd(), nullptr, 7, 9, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            PostCommand(d.GetSafeHwnd(), IDC_TEST_BUTTON);
        };
        placedByItself.onButton = [&] {
            GetWindowRect(placedByItself.GetSafeHwnd(), &placed);
            placedByItself.EndDialog(1);
        };
        placedByItself.DoModal(outer.GetSafeHwnd());
        outer.EndDialog(1);
    };
    EXPECT_EQ(outer.DoModal(), 1);
    ExpectNear(outerCentre, screenCentre, "without an owner: on the screen");
    ExpectNear(nestedCentre, ownerCentre, "with an owner: over the owner");
    EXPECT_GT(std::abs(ownerCentre.x - screenCentre.x), 50) << "the owner was off centre";
    EXPECT_EQ(placed.left, 7);
    EXPECT_EQ(placed.top, 9);
}

// An Escape key press in an edit control on a page inside a modal dialog.
struct EscapeRun {
    Log log;
    INT_PTR code = 0;
};

EscapeRun PressEscapeOnPage(PreTranslate page, PreTranslate outer)
{
    EscapeRun run;
    TestDialog dialog;
    TestDialog pageDialog(IDD_TEST_PAGE);
    RecordingControl edit(&run.log, "edit");
    auto record = [&run](const char* name, PreTranslate answer) {
        return [&run, name, answer](const MSG& msg) {
            if (msg.message != WM_KEYDOWN)
                return PreTranslate::DialogKeys;
            run.log.push_back(name);
            return answer;
        };
    };
    pageDialog.onPreTranslate = record("page", page);
    dialog.onPreTranslate = record("dialog", outer);
    dialog.onInit = [&](TestDialog& d) {
        pageDialog.Create(d.GetSafeHwnd());
        edit.SubclassDlgItem(IDC_TEST_PAGE_EDIT, pageDialog.GetSafeHwnd());
        PostMessageA(edit.GetSafeHwnd(), WM_KEYDOWN, VK_ESCAPE, 1);
        PostCommand(d.GetSafeHwnd(), IDC_TEST_BUTTON);
    };
    dialog.onButton = [&] { dialog.EndDialog(42); };
    run.code = dialog.DoModal();
    return run;
}

TEST(PreTranslation, WalksFromTheTargetUpToTheDialogBeforeDialogKeys)
{
    // Nobody consumes it: the dialog's key processing turns Escape into Cancel.
    EscapeRun passed = PressEscapeOnPage(PreTranslate::PassOn, PreTranslate::DialogKeys);
    EXPECT_EQ(passed.log, (Log{"edit", "page", "dialog"}));
    EXPECT_EQ(passed.code, IDCANCEL);

    // The dialog consumes it before its key processing: it stays open.
    EscapeRun swallowed = PressEscapeOnPage(PreTranslate::PassOn, PreTranslate::Consume);
    EXPECT_EQ(swallowed.log, (Log{"edit", "page", "dialog"}));
    EXPECT_EQ(swallowed.code, 42);

    // A page consuming it ends the walk there.
    EscapeRun byPage = PressEscapeOnPage(PreTranslate::Consume, PreTranslate::DialogKeys);
    EXPECT_EQ(byPage.log, (Log{"edit", "page"}));
    EXPECT_EQ(byPage.code, 42);

    // A page's own key processing handles it, and a page ignores Cancel.
    EscapeRun pageKeys = PressEscapeOnPage(PreTranslate::DialogKeys, PreTranslate::DialogKeys);
    EXPECT_EQ(pageKeys.log, (Log{"edit", "page"}));
    EXPECT_EQ(pageKeys.code, 42);
}

TEST(Dispatch, CommandsAndNotificationsGoToTheControlObjectFirst)
{
    TestDialog dialog;
    RecordingControl tab;
    RecordingControl button;
    dialog.onInit = [&](TestDialog& d) {
        ASSERT_TRUE(tab.SubclassDlgItem(IDC_TEST_TAB, d.GetSafeHwnd()));
        NMHDR header = {tab.GetSafeHwnd(), IDC_TEST_TAB, static_cast<UINT>(NM_CLICK)};
        // Declined by the control: the dialog gets it.
        d.SendMessage(WM_NOTIFY, IDC_TEST_TAB, reinterpret_cast<LPARAM>(&header));
        tab.handleNotifications = true;
        header.code = static_cast<UINT>(NM_RCLICK);
        d.SendMessage(WM_NOTIFY, IDC_TEST_TAB, reinterpret_cast<LPARAM>(&header));

        // A button without an object: its click is a command of the dialog.
        SendMessageA(d.GetDlgItem(IDC_TEST_BUTTON), BM_CLICK, 0, 0);
        ASSERT_TRUE(button.SubclassDlgItem(IDC_TEST_BUTTON, d.GetSafeHwnd()));
        button.handleNotifications = true;
        SendMessageA(button.GetSafeHwnd(), BM_CLICK, 0, 0);
        d.EndDialog(1);
    };
    dialog.onButton = [] {};
    EXPECT_EQ(dialog.DoModal(), 1);

    EXPECT_EQ(tab.childNotifications, (std::vector<UINT>{WM_NOTIFY, WM_NOTIFY}));
    EXPECT_EQ(dialog.notifications, (std::vector<UINT>{static_cast<UINT>(NM_CLICK)}));
    EXPECT_EQ(button.childNotifications, (std::vector<UINT>{WM_COMMAND}));
    // The edit control's own notifications come too; only one click reached the dialog.
    std::vector<std::pair<int, int>> buttonCommands;
    for (const auto& command : dialog.commands)
        if (command.first == IDC_TEST_BUTTON)
            buttonCommands.push_back(command);
    EXPECT_EQ(buttonCommands,
              (std::vector<std::pair<int, int>>{{IDC_TEST_BUTTON, static_cast<int>(BN_CLICKED)}}));
    EXPECT_EQ(tab.GetSafeHwnd(), nullptr) << "controls detach when their window goes";
}

TEST(Dispatch, ExceptionInAHandlerStopsAtTheWindowBorder)
{
    TestDialog dialog;
    int clicks = 0;
    dialog.onInit = [](TestDialog& d) {
        PostCommand(d.GetSafeHwnd(), IDC_TEST_BUTTON);
        PostCommand(d.GetSafeHwnd(), IDC_TEST_BUTTON);
    };
    dialog.onButton = [&] {
        if (++clicks == 1)
            throw std::runtime_error("handler failed");
        dialog.EndDialog(9);
    };
    EXPECT_EQ(dialog.DoModal(), 9);
}

class TestApp : public CWinApp {
public:
    std::function<bool()> init;
    bool exited = false;

protected:
    bool InitInstance() override { return init(); }
    int ExitInstance() override
    {
        exited = true;
        return CWinApp::ExitInstance();
    }
};

TEST(Application, ShutDownRunsOnEveryPath)
{
    TestApp failing;
    failing.init = [] { return false; };
    EXPECT_EQ(failing.Main(GetModuleHandleA(nullptr), SW_SHOW), 0);
    EXPECT_TRUE(failing.exited);

    TestApp throwing;
    throwing.init = []() -> bool { throw std::runtime_error("start failed"); };
    EXPECT_EQ(throwing.Main(GetModuleHandleA(nullptr), SW_SHOW), 0);
    EXPECT_TRUE(throwing.exited);

    // Started: the message loop runs until the quit request, whose code is the result.
    TestApp running;
    running.init = [] {
        PostQuitMessage(4);
        return true;
    };
    EXPECT_EQ(running.Main(GetModuleHandleA(nullptr), SW_SHOW), 4);
    EXPECT_TRUE(running.exited);
    EXPECT_EQ(CWinApp::Get(), nullptr);
}

TEST(ResourceString, LoadsWholeStringsOfAnyLengthAndNothingForAMissingOne)
{
    const struct {
        UINT id;
        std::string text;
    } cases[] = {
        {IDS_TEST_SHORT, "Kestrel"},
        {IDS_TEST_253, std::string(252, 'a') + "z"},
        {IDS_TEST_254, std::string(253, 'b') + "z"},
        {IDS_TEST_255, std::string(254, 'c') + "z"},
        {IDS_TEST_600, std::string(599, 'd') + "z"},
        {IDS_TEST_MISSING, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, LoadResourceString(c.id)) << c.id;
}

}  // namespace
