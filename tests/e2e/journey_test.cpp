// tests/e2e/journey_test.cpp
// One new user's whole journey with the real programs: the first start, the
// switch turned on, the server set and tested, a program added through the
// file dialog and one by a drop, the first started through the launcher with
// its connection arriving through a real SOCKS server, "All programs", later
// starts showing what was stored, and Exit from the tray menu. After every
// step: what client.db holds, how far the change counter has moved, and a
// picture of the screen. Runs inside run-isolated's private network
// namespace; the X display is reached there through its socket file.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/resource.h"
#include "store/config_db.h"
#include "tests/e2e/kestrel_case.h"
#include "tests/e2e/remote_buffer.h"
#include "tests/e2e/text.h"
#include "tests/e2e/tray_icon.h"
#include "tests/e2e/window_driver.h"
#include "tests/proxy/proxy_case.h"

namespace {

using e2e::Lamps;
using e2e::WaitUntil;

const int kStatusTab = 1;
const int kProgramsTab = 2;
const int kServerTab = 3;
// The server test's own time-out is 10 s; the launched client's is longer.
const DWORD kResultMs = 20000;
const DWORD kClientMs = 60000;

std::string WindowsPath(const char* name)
{
    const char* value = std::getenv(name);
    return e2e::WindowsPathFromUnix(value != nullptr ? value : "");
}

std::string FileName(const std::string& path)
{
    return path.substr(path.find_last_of('\\') + 1);
}

std::string ClassOf(HWND window)
{
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// A visible dialog of the process other than `except`: a box or the file dialog.
HWND WaitForDialog(DWORD processId, HWND except, DWORD timeoutMs = e2e::kPatienceMs)
{
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = e2e::FindTopLevel(processId, [&](HWND w) {
                return w != except && IsWindowVisible(w) && ClassOf(w) == "#32770";
            });
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

// The text of a message box, without its icon.
std::string BoxText(HWND box)
{
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (lstrcmpiA(ClassOf(child).c_str(), "Static") == 0 &&
            (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            return e2e::Utf8FromAnsi(e2e::WindowText(child));
    return std::string();
}

class JourneyTest : public KestrelCase {
protected:
    // Kestrel.exe, the tray program, the launcher and its library as a user
    // unpacks them, and two programs of the user's to be proxied.
    void SetUp() override
    {
        KestrelCase::SetUp();
        if (HasFatalFailure())
            return;
        m_folder = MakeProgramFolder("新用户", Tray::Real);
        m_db.SetDbPath(m_folder + "\\client.db");
        for (const char* built : {"KESTREL_PROXY_RUN", "KESTREL_PROXY_HOOK"}) {
            const std::string from = WindowsPath(built);
            ASSERT_TRUE(CopyFileA(from.c_str(), (m_folder + "\\" + FileName(from)).c_str(), FALSE));
        }
        m_launcher = m_folder + "\\" + FileName(WindowsPath("KESTREL_PROXY_RUN"));
        m_chosen = m_folder + "\\" + e2e::AnsiFromUtf8("下载工具.exe");
        m_dropped = m_folder + "\\browser.exe";
        for (const std::string& program : {m_chosen, m_dropped})
            ASSERT_TRUE(
                CopyFileA(WindowsPath("KESTREL_PROXY_CLIENT").c_str(), program.c_str(), FALSE));
    }

    void OpenKestrel()
    {
        m_kestrel = &Start(m_folder);
        m_window = WaitForMainWindow(*m_kestrel);
        ASSERT_NE(m_window, nullptr);
        m_tab = GetDlgItem(m_window, IDC_PAGE_TAB);
    }

    HWND ShowPage(int tabIndex, int pageId)
    {
        HWND page = GetDlgItem(m_tab, pageId);
        EXPECT_TRUE(e2e::ClickTab(m_tab, tabIndex));
        EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(page) != FALSE; })) << pageId;
        return page;
    }

    void CloseKestrel()
    {
        ASSERT_TRUE(PostMessageA(m_window, WM_SYSCOMMAND, SC_CLOSE, 0));
        ASSERT_TRUE(m_kestrel->WaitForExit(5000));
    }

    // What client.db holds, on one line: the settings, the server row, the
    // names of the listed programs.
    std::string Stored()
    {
        std::string enable = "-", area = "-", apps;
        m_db.GetSetting("Enable", enable);
        m_db.GetSetting("ApplyArea", area);
        std::vector<std::string> tables, servers, paths;
        EXPECT_TRUE(ReadDatabase(m_folder + "\\client.db", tables, servers));
        m_db.LoadApps(paths);
        for (const std::string& path : paths)
            apps += " " + e2e::Utf8FromAnsi(FileName(path));
        return "Enable=" + enable + " ApplyArea=" + area +
               " Server=" + (servers.empty() ? "-" : servers.front()) + " Apps:" + apps;
    }

    // The end of a step: client.db holds `stored`, the change counter has
    // moved since the last step when the step wrote anything, and the screen
    // is kept as a picture.
    void After(const char* step, const std::string& stored, bool wrote)
    {
        SCOPED_TRACE(step);
        char name[64];
        std::snprintf(name, sizeof name, "%02d-%s", ++m_steps, step);
        SaveShot(GetDesktopWindow(), name);
        EXPECT_EQ(Stored(), stored);
        const DWORD counter = ChangeCounter();
        if (wrote)
            EXPECT_GT(counter, m_counter) << "no notification";
        else
            EXPECT_EQ(counter, m_counter) << "a notification without a change";
        m_counter = counter;
    }

    // The tray program's window once its icon shows.
    HWND TrayWindow()
    {
        HWND tray = nullptr;
        WaitUntil(
            [&] { return (tray = FindWindowA(nullptr, kTrayWindowTitle)) && e2e::IconWindow(); });
        return tray;
    }
    // Off: yellow only, steadily. On: red and yellow by turns.
    bool TrayShowsOff()
    {
        return WaitUntil([] { return e2e::ShownLamps() == Lamps::Yellow; }) &&
               !WaitUntil([] { return e2e::ShownLamps() != Lamps::Yellow; }, 1500);
    }
    bool TrayBlinks()
    {
        return WaitUntil([] { return e2e::ShownLamps() == Lamps::Red; }, 3000) &&
               WaitUntil([] { return e2e::ShownLamps() == Lamps::Yellow; }, 3000) &&
               WaitUntil([] { return e2e::ShownLamps() == Lamps::Red; }, 3000);
    }

    std::vector<std::string> ListedLabels() const
    {
        HWND list = GetDlgItem(GetDlgItem(m_tab, IDD_PROGRAM_LIST_PAGE), IDC_PROGRAM_LIST);
        std::vector<std::string> labels;
        for (const std::string& label : e2e::ListViewLabels(m_kestrel->Id(), list))
            labels.push_back(e2e::Utf8FromAnsi(label));
        return labels;
    }

    std::string ShownAddress(HWND serverPage) const
    {
        e2e::RemoteBuffer buffer(m_kestrel->Id(), sizeof(DWORD));
        DWORD a = 0;
        SendMessageA(GetDlgItem(serverPage, IDC_SERVER_ADDRESS), IPM_GETADDRESS, 0,
                     reinterpret_cast<LPARAM>(buffer.At(0)));
        buffer.Read(0, &a, sizeof a);
        return std::to_string(FIRST_IPADDRESS(a)) + "." + std::to_string(SECOND_IPADDRESS(a)) +
               "." + std::to_string(THIRD_IPADDRESS(a)) + "." + std::to_string(FOURTH_IPADDRESS(a));
    }

    static bool Checked(HWND page, int id)
    {
        return SendMessageA(GetDlgItem(page, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }

    std::string m_folder, m_launcher, m_chosen, m_dropped;
    CConfigDb m_db;
    e2e::Process* m_kestrel = nullptr;
    HWND m_window = nullptr;
    HWND m_tab = nullptr;
    DWORD m_counter = 0;
    int m_steps = 0;
};

TEST_F(JourneyTest, NewUserSetsUpProxiesAProgramAndExits)
{
    const Network& net = TestNetwork();
    const std::string port = std::to_string(net.realServerBase);  // microsocks, no login
    const std::string server = "SingleServer|127.0.0.1|" + port + "|||5";
    const std::string unset = "SingleServer||1080|||5";  // the row a new database starts with
    m_counter = ChangeCounter();

    // First start: the database is made beside the program, the tray shows Off.
    ASSERT_FALSE(FileExists(m_folder + "\\client.db"));
    ASSERT_NO_FATAL_FAILURE(OpenKestrel());
    ASSERT_NE(TrayWindow(), nullptr);
    EXPECT_TRUE(TrayShowsOff());
    After("first-start", "Enable=- ApplyArea=ProgramList Server=" + unset + " Apps:", true);

    // Switched on: the tray blinks.
    ASSERT_TRUE(e2e::PostCommand(m_window, ID_VIEW_STATUS));
    HWND status = GetDlgItem(m_tab, IDD_STATUS_PAGE);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(status) != FALSE; }));
    ASSERT_TRUE(PostMessageA(GetDlgItem(status, IDC_ENABLE_ON), BM_CLICK, 0, 0));
    ASSERT_TRUE(WaitUntil([&] { return ChangeCounter() != m_counter; }));
    EXPECT_TRUE(TrayBlinks());
    After("switched-on", "Enable=1 ApplyArea=ProgramList Server=" + unset + " Apps:", true);

    // The server set and tested: success, and nothing stored before closing.
    HWND serverPage = ShowPage(kServerTab, IDD_SERVER_PAGE);
    SendMessageA(GetDlgItem(serverPage, IDC_SERVER_ADDRESS), IPM_SETADDRESS, 0,
                 MAKEIPADDRESS(127, 0, 0, 1));
    SendMessageA(GetDlgItem(serverPage, IDC_SERVER_PORT), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(port.c_str()));
    ASSERT_TRUE(e2e::ClickButton(GetDlgItem(serverPage, IDC_SOCKS5)));
    ASSERT_TRUE(PostMessageA(GetDlgItem(serverPage, IDC_TEST_SERVER), BM_CLICK, 0, 0));
    HWND box = WaitForDialog(m_kestrel->Id(), m_window, kResultMs);
    ASSERT_NE(box, nullptr);
    SaveShot(GetDesktopWindow(), "03-server-test-box");
    EXPECT_EQ(BoxText(box), "验证成功。");
    ASSERT_TRUE(e2e::ClickButton(GetDlgItem(box, IDOK)));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
    After("server-tested", "Enable=1 ApplyArea=ProgramList Server=" + unset + " Apps:", false);

    // A program added through the file dialog.
    HWND programs = ShowPage(kProgramsTab, IDD_PROGRAM_LIST_PAGE);
    ASSERT_TRUE(PostMessageA(GetDlgItem(programs, IDC_ADD_PROGRAM), BM_CLICK, 0, 0));
    HWND dialog = WaitForDialog(m_kestrel->Id(), m_window);
    ASSERT_NE(dialog, nullptr);
    const int kFileNameField = 1148;  // the combo box cmb13
    SendMessageA(GetDlgItem(dialog, kFileNameField), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(m_chosen.c_str()));
    ASSERT_TRUE(PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog) && ChangeCounter() != m_counter; }));
    After("added-by-dialog",
          "Enable=1 ApplyArea=ProgramList Server=" + unset + " Apps: 下载工具.exe", true);

    // One dropped on the page. Under Wine no drop crosses from another Windows
    // process, so the page gets the message a drop makes, with the file list
    // in its own memory where the shell would have put it.
    {
        const std::string names = m_dropped + '\0' + '\0';
        e2e::RemoteBuffer drop(m_kestrel->Id(), sizeof(DROPFILES) + names.size());
        DROPFILES header = {};
        header.pFiles = sizeof header;
        ASSERT_TRUE(drop.Write(0, &header, sizeof header));
        ASSERT_TRUE(drop.Write(sizeof header, names.data(), names.size()));
        ASSERT_TRUE(e2e::SendMessageWaiting(programs, WM_DROPFILES,
                                            reinterpret_cast<WPARAM>(drop.At(0)), 0));
    }
    EXPECT_EQ(ListedLabels(), (std::vector<std::string>{"browser.exe", "下载工具.exe"}));
    After("added-by-drop",
          "Enable=1 ApplyArea=ProgramList Server=" + unset + " Apps: 下载工具.exe browser.exe",
          true);

    // Closed: the server reaches the database; the tray stays and blinks.
    ASSERT_NO_FATAL_FAILURE(CloseKestrel());
    EXPECT_TRUE(TrayBlinks());
    const std::string listed = "Apps: 下载工具.exe browser.exe";
    After("closed", "Enable=1 ApplyArea=ProgramList Server=" + server + " " + listed, true);

    // The added program started through the launcher: its connection to the
    // test address goes through microsocks, which logs where it connected.
    const std::string socksLog = WindowsPath("KESTREL_PROXY_WORK") + "\\socks\\microsocks.log";
    const size_t logged = ReadLines(socksLog).size();
    const std::string result = m_folder + "\\result.txt";
    e2e::Process client(m_launcher,
                        "-wait \"" + m_chosen + "\" \"" + result + "\" blocking " + net.address +
                            " " + std::to_string(net.echoPort),
                        m_folder);
    ASSERT_TRUE(client.WaitForExit(kClientMs));
    const std::vector<std::string> lines = ReadLines(result);
    ASSERT_EQ(lines.size(), 1u);
    const ClientResult connected = ParseResult(lines[0]);
    EXPECT_TRUE(connected.ok) << lines[0];
    // The program sees its destination; microsocks' log shows the way.
    EXPECT_EQ(connected.peer, net.address + ":" + std::to_string(net.echoPort));
    const std::vector<std::string> log = ReadLines(socksLog);
    ASSERT_EQ(log.size(), logged + 1);
    EXPECT_NE(log.back().find("connected to " + net.address + ":" + std::to_string(net.echoPort)),
              std::string::npos)
        << log.back();
    After("launched", "Enable=1 ApplyArea=ProgramList Server=" + server + " " + listed, false);

    // Started again: "All programs", then closed.
    ASSERT_NO_FATAL_FAILURE(OpenKestrel());
    programs = ShowPage(kProgramsTab, IDD_PROGRAM_LIST_PAGE);
    ASSERT_TRUE(e2e::ClickButton(GetDlgItem(programs, IDC_APPLY_ALL)));
    ASSERT_NO_FATAL_FAILURE(CloseKestrel());
    After("all-programs", "Enable=1 ApplyArea=All Server=" + server + " " + listed, true);

    // Started again: everything shows as stored.
    ASSERT_NO_FATAL_FAILURE(OpenKestrel());
    status = ShowPage(kStatusTab, IDD_STATUS_PAGE);
    EXPECT_TRUE(Checked(status, IDC_ENABLE_ON));
    programs = ShowPage(kProgramsTab, IDD_PROGRAM_LIST_PAGE);
    EXPECT_TRUE(Checked(programs, IDC_APPLY_ALL));
    EXPECT_EQ(ListedLabels(), (std::vector<std::string>{"browser.exe", "下载工具.exe"}));
    serverPage = ShowPage(kServerTab, IDD_SERVER_PAGE);
    EXPECT_EQ(ShownAddress(serverPage), "127.0.0.1");
    EXPECT_EQ(e2e::WindowText(GetDlgItem(serverPage, IDC_SERVER_PORT)), port);
    EXPECT_TRUE(Checked(serverPage, IDC_SOCKS5));
    After("shown-as-stored", "Enable=1 ApplyArea=All Server=" + server + " " + listed, true);

    // Exit from the tray menu, its last item, answered Yes: both programs
    // end, the icon goes, and the switch stays on.
    HWND tray = TrayWindow();
    ASSERT_NE(tray, nullptr);
    const DWORD trayProcess = e2e::ProcessOf(tray);
    ASSERT_TRUE(e2e::ClickAtScreen(e2e::CentreOf(e2e::IconWindow()), 1, true));
    HWND menu = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        menu = e2e::FindTopLevel(
            trayProcess, [](HWND w) { return IsWindowVisible(w) && ClassOf(w) == "#32768"; });
        return menu != nullptr;
    }));
    RECT rect = {};
    GetWindowRect(menu, &rect);
    ASSERT_TRUE(e2e::ClickAtScreen(
        {(rect.left + rect.right) / 2,
         rect.bottom - GetSystemMetrics(SM_CYEDGE) - GetSystemMetrics(SM_CYMENU) / 2}));
    box = WaitForDialog(trayProcess, nullptr);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(PostMessageA(box, WM_COMMAND, IDYES, 0));
    EXPECT_TRUE(m_kestrel->WaitForExit(5000));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(tray); }));
    EXPECT_EQ(e2e::IconWindow(), nullptr);
    After("exited", "Enable=1 ApplyArea=All Server=" + server + " " + listed, true);
}

}  // namespace
