// framework/data_exchange.cpp
#include "framework/data_exchange.h"

#include <climits>
#include <vector>

#include "framework/app.h"
#include "framework/dialog.h"
#include "framework/framework_res.h"
#include "framework/wnd.h"

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string WindowTextOf(HWND window)
{
    const int length = GetWindowTextLengthA(window);
    if (length <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    const int got = GetWindowTextA(window, buffer.data(), length + 1);
    return std::string(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

}  // namespace

HWND CDataExchange::PrepareControl(int id)
{
    m_lastControl = GetDlgItem(m_dialog, id);
    return m_lastControl;
}

void CDataExchange::Fail()
{
    m_failed = true;
    if (!m_lastControl)
        return;
    SetFocus(m_lastControl);
    char className[16] = {};
    GetClassNameA(m_lastControl, className, sizeof className);
    if (lstrcmpiA(className, "Edit") == 0)
        SendMessageA(m_lastControl, EM_SETSEL, 0, -1);
}

void CDataExchange::FailWithMessage(UINT messageId, std::initializer_list<std::string> args)
{
    const std::string text = FormatFrameworkString(LoadResourceString(messageId), args);
    const std::string caption = GetAppName();
    MessageBoxA(m_dialog, text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
    Fail();
}

void DDX_Control(CDataExchange& dx, int id, CWnd& object)
{
    if (dx.Failed() || object.GetSafeHwnd())
        return;
    HWND control = dx.PrepareControl(id);
    if (!control || !object.SubclassWindow(control))
        dx.Fail();
}

// The control of a text exchange, or null (the exchange then failed or had
// failed before).
static HWND TextControl(CDataExchange& dx, int id)
{
    if (dx.Failed())
        return nullptr;
    HWND control = dx.PrepareControl(id);
    if (!control)
        dx.Fail();
    return control;
}

void DDX_Text(CDataExchange& dx, int id, std::string& value)
{
    HWND control = TextControl(dx, id);
    if (!control)
        return;
    if (dx.IsSaving())
        value = WindowTextOf(control);
    else
        SetWindowTextA(control, value.c_str());
}

void DDX_Text(CDataExchange& dx, int id, int& value)
{
    HWND control = TextControl(dx, id);
    if (!control)
        return;
    if (!dx.IsSaving()) {
        SetWindowTextA(control, std::to_string(value).c_str());
        return;
    }
    int parsed = 0;
    if (!ParseWholeInt(WindowTextOf(control), parsed)) {
        dx.FailWithMessage(IDP_FRAMEWORK_PARSE_INT);
        return;
    }
    value = parsed;
}

void DDV_MaxChars(CDataExchange& dx, const std::string& value, int maxChars)
{
    if (dx.Failed())
        return;
    if (!dx.IsSaving()) {
        if (HWND control = dx.LastControl())
            SendMessageA(control, EM_LIMITTEXT, static_cast<WPARAM>(maxChars), 0);
        return;
    }
    if (value.size() > static_cast<size_t>(maxChars))
        dx.FailWithMessage(IDP_FRAMEWORK_PARSE_STRING_SIZE, {std::to_string(maxChars)});
}

void DDV_MinMaxInt(CDataExchange& dx, int value, int minValue, int maxValue)
{
    if (dx.Failed() || !dx.IsSaving())
        return;
    if (value < minValue || value > maxValue)
        dx.FailWithMessage(IDP_FRAMEWORK_PARSE_INT_RANGE,
                           {std::to_string(minValue), std::to_string(maxValue)});
}

bool ParseWholeInt(const std::string& text, int& value)
{
    size_t i = 0;
    const size_t end = text.size();
    while (i < end && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const size_t digitsStart = i;
    // Accumulated as a negative number: INT_MIN has no positive counterpart.
    long long number = 0;
    while (i < end && text[i] >= '0' && text[i] <= '9') {
        number = number * 10 - (text[i] - '0');
        if (number < static_cast<long long>(INT_MIN))
            return false;
        ++i;
    }
    if (i == digitsStart)
        return false;
    while (i < end && IsBlank(text[i]))
        ++i;
    if (i != end)
        return false;
    if (!negative) {
        number = -number;
        if (number > INT_MAX)
            return false;
    }
    value = static_cast<int>(number);
    return true;
}

std::string FormatFrameworkString(const std::string& messageTemplate,
                                  std::initializer_list<std::string> args)
{
    std::string out;
    for (size_t i = 0; i < messageTemplate.size(); ++i) {
        const char c = messageTemplate[i];
        if (c == '%' && i + 1 < messageTemplate.size() && messageTemplate[i + 1] >= '1' &&
            messageTemplate[i + 1] <= '9') {
            const size_t n = static_cast<size_t>(messageTemplate[i + 1] - '1');
            if (n < args.size())
                out += *(args.begin() + n);
            ++i;
            continue;
        }
        out += c;
    }
    return out;
}
