// framework/data_exchange.h
#pragma once

#include <windows.h>

class CWnd;

// One direction of a dialog's data exchange. Exchange functions do nothing
// once a value has failed; the caller of UpdateData then sees false.
class CDataExchange {
public:
    CDataExchange(HWND dialog, bool saveAndValidate)
        : m_dialog(dialog), m_saveAndValidate(saveAndValidate)
    {
    }

    bool IsSaving() const { return m_saveAndValidate; }
    bool Failed() const { return m_failed; }
    HWND Dialog() const { return m_dialog; }

    // The control with id, remembered as the one to focus if a check fails.
    HWND PrepareControl(int id);
    // Marks the exchange failed and puts the focus on the last prepared
    // control, selecting its text when it is an edit control.
    void Fail();

private:
    HWND m_dialog;
    bool m_saveAndValidate;
    bool m_failed = false;
    HWND m_lastControl = nullptr;
};

// Binds control id to object on the first exchange (subclassing it).
void DDX_Control(CDataExchange& dx, int id, CWnd& object);
