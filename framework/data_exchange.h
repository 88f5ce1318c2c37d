// framework/data_exchange.h
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>

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
    // The control the last exchange function worked on.
    HWND LastControl() const { return m_lastControl; }

    // The control with id, remembered as the one to focus if a check fails.
    HWND PrepareControl(int id);
    // Marks the exchange failed and puts the focus on the last prepared
    // control, selecting its text when it is an edit control.
    void Fail();
    // Shows the framework's message (string messageId, %1... filled with
    // args) in a box owned by the dialog, then fails as above.
    void FailWithMessage(UINT messageId, std::initializer_list<std::string> args = {});

private:
    HWND m_dialog;
    bool m_saveAndValidate;
    bool m_failed = false;
    HWND m_lastControl = nullptr;
};

// Binds control id to object on the first exchange (subclassing it).
void DDX_Control(CDataExchange& dx, int id, CWnd& object);
// The control's text, both ways.
void DDX_Text(CDataExchange& dx, int id, std::string& value);
// The control's text as a whole decimal number; a text that is not one fails
// with the integer message and leaves value as it was.
void DDX_Text(CDataExchange& dx, int id, int& value);
// After the DDX_Text of the same field. Showing values limits the edit to
// maxChars; taking them fails a longer text.
void DDV_MaxChars(CDataExchange& dx, const std::string& value, int maxChars);
// After the DDX_Text of the same field; checked when taking values only.
void DDV_MinMaxInt(CDataExchange& dx, int value, int minValue, int maxValue);

// True when text is one whole decimal number that fits an int: an optional
// sign and digits, with blanks before and after allowed; nothing else.
bool ParseWholeInt(const std::string& text, int& value);
// messageTemplate with %1 ... %9 replaced by args (a missing one by nothing).
std::string FormatFrameworkString(const std::string& messageTemplate,
                                  std::initializer_list<std::string> args);
