// framework/dialog.h
#pragma once

#include <windows.h>

#include <string>

#include "framework/data_exchange.h"
#include "framework/wnd.h"

// A dialog made from a template resource of the program. Run modally with
// DoModal (the framework's own loop, so that pre-translation comes before
// dialog key processing) or created as a modeless child with Create (pages).
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId);
    ~CDialog() override;

    // Creates, shows and runs the dialog until EndDialog; then destroys it.
    // Returns the EndDialog code, or -1 when the dialog could not be created
    // or the thread was asked to quit (the quit request is posted again).
    INT_PTR DoModal(HWND owner = nullptr);
    // Creates the dialog as a modeless window of parent; its window id
    // becomes the template id so that it can be found like a control.
    bool Create(HWND parent);
    // Ends a modal run with code; ignored by modeless dialogs.
    void EndDialog(INT_PTR code);

    // Centres the window over its owner, or on the work area of its monitor
    // when it has no visible owner, keeping it on that work area.
    void CenterWindow();

    UINT TemplateId() const { return m_templateId; }
    bool IsModal() const { return m_modal; }

    // Exchanges values between the members and the controls; false (with the
    // focus on the failing control) when taking values failed validation.
    bool UpdateData(bool saveAndValidate);

    // Dialog key processing (IsDialogMessage) for messages of this dialog and
    // its descendants. Classes that swallow keys check them first.
    bool PreTranslateMessage(MSG* msg) override;

    void CheckButton(int id) { CheckDlgButton(GetSafeHwnd(), id, BST_CHECKED); }
    bool IsButtonChecked(int id) { return IsDlgButtonChecked(GetSafeHwnd(), id) == BST_CHECKED; }

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    bool OnCommand(int id, int code, HWND control) override;

    // Default: the data exchange into the controls; true lets the system set
    // the initial focus.
    virtual bool OnInitDialog();
    virtual void DoDataExchange(CDataExchange& dx);
    // Default for a modal run: take the values and, if valid, end with IDOK.
    // Modeless dialogs (pages) ignore Enter.
    virtual void OnOK();
    // Default for a modal run: end with IDCANCEL. Modeless dialogs ignore it.
    virtual void OnCancel();

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    HWND CreateFromTemplate(HWND parent);
    // One message of the modal loop: the pre-translation walk from the target
    // window up to this dialog, then translation and dispatch.
    void PumpMessage(MSG& msg);

    UINT m_templateId;
    bool m_modal = false;
    bool m_endRequested = false;
    INT_PTR m_endCode = IDCANCEL;
};

// The instance whose resources dialogs are made from (the program itself by
// default; tests may point it elsewhere).
HINSTANCE GetResourceInstance();
void SetResourceInstance(HINSTANCE instance);

// A string of that instance's string table, whole; empty when it is missing.
std::string LoadResourceString(UINT id);
