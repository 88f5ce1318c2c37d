// tests/client/home_page_test.cpp
// The home page inside this test program, with the real program's templates:
// where the browser sits, where it was sent, and that showing the page again
// does not send it anywhere else. Navigation events and the control's
// properties cannot be read from another process.
#include <windows.h>
#include <exdisp.h>
#include <exdispid.h>

#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "client/home_page.h"
#include "client/resource.h"
#include "client/web_site.h"
#include "framework/com_ptr.h"

namespace {

// Counts the browser's navigation events.
class NavigationCounter : public IDispatch {
public:
    int navigations = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID_DWebBrowserEvents2) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_references; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                     EXCEPINFO*, UINT*) override
    {
        if (id == DISPID_BEFORENAVIGATE2 || id == DISPID_NAVIGATEERROR ||
            id == DISPID_NAVIGATECOMPLETE2)
            ++navigations;
        return S_OK;
    }

private:
    ULONG m_references = 1;  // on the stack: never freed through Release
};

class HomePageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        const char* program = std::getenv("KESTREL_CLIENT_PROGRAM");
        ASSERT_NE(program, nullptr);
        std::string path = program;
        if (!path.empty() && path[0] == '/') {
            path.insert(0, "Z:");
            for (char& c : path)
                if (c == '/')
                    c = '\\';
        }
        m_resources = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_resources, nullptr) << path;
        SetResourceInstance(m_resources);
        m_parent = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 600, 400, nullptr,
                                   nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(m_parent, nullptr);
    }
    void TearDown() override
    {
        m_page.reset();
        if (m_parent)
            DestroyWindow(m_parent);
        SetResourceInstance(nullptr);
        if (m_resources)
            FreeLibrary(m_resources);
        OleUninitialize();
    }

    static void Pump()
    {
        MSG msg;
        const ULONGLONG until = GetTickCount64() + 300;
        while (GetTickCount64() < until) {
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            Sleep(10);
        }
    }

    HMODULE m_resources = nullptr;
    HWND m_parent = nullptr;
    std::unique_ptr<CHomePage> m_page = std::make_unique<CHomePage>();
};

TEST_F(HomePageTest, BrowserSitsInsideThePageAndNavigatesOnce)
{
    ASSERT_TRUE(m_page->Create(m_parent));
    HWND page = m_page->GetSafeHwnd();
    HWND browser = GetDlgItem(page, IDC_BROWSER);
    ASSERT_NE(browser, nullptr) << "no browser control";

    RECT client;
    GetClientRect(page, &client);
    RECT placed;
    GetWindowRect(browser, &placed);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(placed.left, 2);
    EXPECT_EQ(placed.top, 2);
    EXPECT_EQ(placed.right, client.right - 2);
    EXPECT_EQ(placed.bottom, client.bottom - 2);
    EXPECT_EQ(GetWindowLongA(browser, GWL_STYLE) & WS_BORDER, 0);
    EXPECT_EQ(GetWindowLongA(browser, GWL_STYLE) & (WS_CHILD | WS_TABSTOP),
              WS_CHILD | WS_TABSTOP);

    CWebBrowser2* control = static_cast<CWebBrowser2*>(CWnd::FromHandle(browser));
    ASSERT_NE(control, nullptr);
    ComPtr<IWebBrowser2> web = control->GetControlUnknown().As<IWebBrowser2>(IID_IWebBrowser2);
    ASSERT_TRUE(web);
    BSTR location = nullptr;
    ASSERT_TRUE(SUCCEEDED(web->get_LocationURL(&location)));
    const std::wstring navigatedTo = location != nullptr ? location : L"";
    SysFreeString(location);
    EXPECT_EQ(navigatedTo, L"" KESTREL_CLIENT_PAGE_URL);

    // Hidden and shown again, as a tab switch does: no new navigation. The
    // counter first sees one, so that it is known to hear them.
    ComPtr<IConnectionPointContainer> points =
        control->GetControlUnknown().As<IConnectionPointContainer>(IID_IConnectionPointContainer);
    ASSERT_TRUE(points);
    ComPtr<IConnectionPoint> events;
    ASSERT_TRUE(SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, events.Out())));
    NavigationCounter counter;
    DWORD cookie = 0;
    ASSERT_TRUE(SUCCEEDED(events->Advise(&counter, &cookie)));
    control->Navigate("about:blank");
    Pump();
    ASSERT_GT(counter.navigations, 0);
    counter.navigations = 0;
    ShowWindow(page, SW_HIDE);
    ShowWindow(page, SW_SHOW);
    Pump();
    EXPECT_EQ(counter.navigations, 0);
    events->Unadvise(cookie);

    // Without an HTML engine (as under Wine here) the page says so and links
    // to the address instead.
    EXPECT_EQ(m_page->ShowsFallback(), !HtmlEngineAvailable());
    if (m_page->ShowsFallback()) {
        EXPECT_FALSE(IsWindowVisible(browser));
        HWND link = FindWindowExA(page, nullptr, "STATIC", KESTREL_CLIENT_PAGE_URL);
        ASSERT_NE(link, nullptr);
        EXPECT_TRUE(IsWindowVisible(link));
        RECT linkRect;
        GetWindowRect(link, &linkRect);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&linkRect), 2);
        RECT inside;
        EXPECT_TRUE(IntersectRect(&inside, &linkRect, &placed) && EqualRect(&inside, &linkRect));
    }
}

}  // namespace
