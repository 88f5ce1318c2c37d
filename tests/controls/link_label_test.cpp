// tests/controls/link_label_test.cpp
// The link label on a real static control of this process: the font and brush
// it owns, and what a press opens.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "controls/link_label.h"
#include "tests/e2e/url_recorder.h"
#include "tests/e2e/window_driver.h"

namespace {

struct Control {
    Control()
        : hwnd(CreateWindowExA(0, "STATIC", "link", SS_NOTIFY, 0, 0, 90, 20, nullptr, nullptr,
                               nullptr, nullptr))
    {
    }
    ~Control() { DestroyWindow(hwnd); }
    HWND hwnd;
};

// The font the label selects for the control's text (left deselected again)
// and the brush it answers with.
HFONT AskColours(CLinkLabel& label, HWND control, HBRUSH& brush)
{
    std::unique_ptr<HDC__, decltype(&DeleteDC)> dc(CreateCompatibleDC(nullptr), &DeleteDC);
    LRESULT result = 0;
    EXPECT_TRUE(label.OnChildNotify(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.get()),
                                    reinterpret_cast<LPARAM>(control), &result));
    brush = reinterpret_cast<HBRUSH>(result);
    return static_cast<HFONT>(SelectObject(dc.get(), GetStockObject(SYSTEM_FONT)));
}

bool Underlined(HFONT font)
{
    LOGFONTA description = {};
    return GetObjectA(font, sizeof description, &description) != 0 && description.lfUnderline;
}

TEST(LinkLabel, RebuildsItsFontOnEachChangeAndDeletesFontAndBrushButNotTheCursor)
{
    Control control;
    auto label = std::make_unique<CLinkLabel>();
    ASSERT_TRUE(label->SubclassWindow(control.hwnd));
    HBRUSH brush = nullptr;
    const HFONT plain = AskColours(*label, control.hwnd, brush);
    ASSERT_EQ(GetObjectType(plain), static_cast<DWORD>(OBJ_FONT));
    ASSERT_EQ(GetObjectType(brush), static_cast<DWORD>(OBJ_BRUSH));
    EXPECT_FALSE(Underlined(plain));

    label->SetFontUnderline(true);
    HBRUSH sameBrush = nullptr;
    const HFONT underlined = AskColours(*label, control.hwnd, sameBrush);
    EXPECT_TRUE(Underlined(underlined));
    EXPECT_EQ(GetObjectType(plain), 0u) << "the old font was not deleted";
    EXPECT_EQ(sameBrush, brush);
    // The control draws with the label's font, not its own.
    EXPECT_EQ(SendMessageA(control.hwnd, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(underlined));

    const BYTE andMask[128] = {};
    const BYTE xorMask[128] = {};
    const HCURSOR cursor = CreateCursor(nullptr, 0, 0, 32, 32, andMask, xorMask);
    label->SetLinkCursor(cursor);
    label.reset();
    EXPECT_EQ(GetObjectType(underlined), 0u);
    EXPECT_EQ(GetObjectType(brush), 0u);
    EXPECT_EQ(SendMessageA(control.hwnd, WM_GETFONT, 0, 0), 0) << "the control kept a dead font";
    EXPECT_TRUE(DestroyCursor(cursor)) << "the label destroyed the cursor";
}

TEST(LinkLabel, PressOpensTheAddressOnlyWhenThereIsOne)
{
    e2e::UrlRecorder recorder("link-label-urls.log");
    ASSERT_TRUE(recorder.Ready());
    Control control;
    CLinkLabel label;
    ASSERT_TRUE(label.SubclassWindow(control.hwnd));
    SendMessageA(control.hwnd, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    const std::string url = "http://kestrel.test/after-an-empty-one";
    label.SetLinkUrl(url);
    SendMessageA(control.hwnd, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    ASSERT_TRUE(e2e::WaitUntil([&] { return !recorder.Urls().empty(); }));
    // A press without an address that opened anything would show first.
    EXPECT_EQ(recorder.Urls(), std::vector<std::string>{url});
}

}  // namespace
