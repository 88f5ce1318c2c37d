// tests/e2e/kestrel_case.cpp
#include "tests/e2e/kestrel_case.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <sqlite3.h>

#include "tests/e2e/screenshot.h"
#include "tests/e2e/text.h"
#include "tests/e2e/window_driver.h"

const char kMainWindowClass[] = "ZorizuzAduz.Halmerow {9A99783A-FEA9-4e7e-98FB-9DD94F1AF35A}";
const char kTrayWindowTitle[] = "{F21ECBDE-FF66-407f-953E-5EE66A69D4FE}";
const char kAgentInstanceMutex[] = "Local\\KestrelAgent.Instance";

namespace {

namespace fs = std::filesystem;

// ctest hands over Linux paths; under Wine drive Z: is the Linux root.
std::string WindowsPathFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        return std::string();
    return e2e::WindowsPathFromUnix(value);
}

fs::path FsPath(const std::string& ansi)
{
    const int length = static_cast<int>(ansi.size());
    std::wstring wide(
        static_cast<std::size_t>(MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0)),
        L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, &wide[0], static_cast<int>(wide.size()));
    return fs::path(wide);
}

std::vector<std::string> LinesOf(const std::string& ansiPath)
{
    std::vector<std::string> lines;
    std::ifstream log(FsPath(ansiPath));
    for (std::string line; std::getline(log, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace

bool AgentRuns()
{
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, kAgentInstanceMutex);
    if (mutex == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED;
    CloseHandle(mutex);
    return true;
}

void KestrelCase::SetUp()
{
    // The programs' texts are compared as GBK bytes would read.
    ASSERT_EQ(GetACP(), 936u) << "the Windows tests run with code page 936 (LC_ALL=zh_CN.UTF-8)";
    ASSERT_FALSE(WindowsPathFromEnvironment("KESTREL_E2E_PROGRAM").empty());
    // An instance left over would answer in place of the one under test.
    ASSERT_TRUE(e2e::WaitUntil([] {
        return FindWindowA(kMainWindowClass, nullptr) == nullptr &&
               FindWindowA(nullptr, kTrayWindowTitle) == nullptr && !AgentRuns();
    })) << "a configuration program, tray program or agent from elsewhere is still running";

    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string root = WindowsPathFromEnvironment("KESTREL_TEST_TMP");
    if (root.empty())
        root = fs::temp_directory_path().string();
    m_caseFolder = root + "\\e2e\\" + test->test_suite_name() + "." + test->name();
    std::error_code ignored;
    fs::remove_all(FsPath(m_caseFolder), ignored);
    ASSERT_TRUE(fs::create_directories(FsPath(m_caseFolder))) << m_caseFolder;
}

void KestrelCase::TearDown()
{
    // Ended on its own request, as a user ends it: killing the jobs below
    // would end it too, but without its own clean-up.
    if (!m_agentFolder.empty() && AgentRuns()) {
        e2e::Process request(m_agentFolder + "\\KestrelAgent.exe", "-exit", m_caseFolder);
        EXPECT_TRUE(request.WaitForExit(e2e::kPatienceMs));
        EXPECT_TRUE(e2e::WaitUntil([] { return !AgentRuns(); }))
            << "the agent did not end on KestrelAgent.exe -exit";
    }
    m_processes.clear();
}

std::string KestrelCase::MakeProgramFolder(const std::string& utf8Name, Tray kind)
{
    const std::string folder = m_caseFolder + "\\" + e2e::AnsiFromUtf8(utf8Name);
    const std::string program = WindowsPathFromEnvironment("KESTREL_E2E_PROGRAM");
    const std::string tray = WindowsPathFromEnvironment(kind == Tray::Real ? "KESTREL_E2E_REAL_TRAY"
                                                                           : "KESTREL_E2E_TRAY");
    EXPECT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    EXPECT_TRUE(CopyFileA(program.c_str(), (folder + "\\Kestrel.exe").c_str(), FALSE)) << program;
    EXPECT_TRUE(CopyFileA(tray.c_str(), (folder + "\\KestrelTray.exe").c_str(), FALSE)) << tray;
    // The journey runs the real programs without it.
    const std::string agent = WindowsPathFromEnvironment("KESTREL_E2E_AGENT");
    if (!agent.empty()) {
        EXPECT_TRUE(CopyFileA(agent.c_str(), (folder + "\\KestrelAgent.exe").c_str(), FALSE))
            << agent;
        m_agentFolder = folder;
    }
    return folder;
}

e2e::Process& KestrelCase::Start(const std::string& folder, const std::string& args,
                                 const std::string& currentDir, const char* program)
{
    m_processes.push_back(std::make_unique<e2e::Process>(folder + "\\" + program, args,
                                                         currentDir.empty() ? folder : currentDir));
    EXPECT_TRUE(m_processes.back()->Started()) << folder << " " << args;
    return *m_processes.back();
}

HWND KestrelCase::WaitForMainWindow(const e2e::Process& process)
{
    HWND window = nullptr;
    e2e::WaitUntil([&] {
        window = e2e::FindWindowOf(kMainWindowClass, process.Id());
        return window != nullptr && IsWindowVisible(window);
    });
    return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

std::vector<std::string> KestrelCase::TrayStarts(const std::string& folder) const
{
    return LinesOf(folder + "\\tray-starts.log");
}

std::vector<std::string> KestrelCase::AgentStarts(const std::string& folder) const
{
    return LinesOf(folder + "\\agent-starts.log");
}

void KestrelCase::SaveShot(HWND window, const std::string& name) const
{
    const std::string folder = WindowsPathFromEnvironment("KESTREL_E2E_ARTIFACTS");
    if (folder.empty())
        return;
    std::error_code ignored;
    fs::create_directories(FsPath(folder), ignored);
    // A picture is for people to look at; a failed one fails no case.
    if (!e2e::SaveWindowShot(window, folder + "\\" + name + ".bmp"))
        std::fprintf(stderr, "no screenshot %s\n", name.c_str());
}

bool FileExists(const std::string& ansiPath)
{
    return GetFileAttributesA(ansiPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD ChangeCounter()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZorizuzAduz\\ProxyClient", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    const LONG read =
        RegQueryValueExA(key, "reload", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_DWORD ? value : 0;
}

bool QueryDatabase(const std::string& ansiPath, const std::string& sql,
                   std::vector<std::string>& rows, bool writable)
{
    sqlite3* raw = nullptr;
    const int flags = writable ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    const int opened = sqlite3_open_v2(e2e::Utf8FromAnsi(ansiPath).c_str(), &raw, flags, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, &sqlite3_close);
    sqlite3_stmt* rawStatement = nullptr;
    if (opened != SQLITE_OK ||
        sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &rawStatement, nullptr) != SQLITE_OK)
        return false;
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(rawStatement,
                                                                    &sqlite3_finalize);
    int step;
    while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(statement.get(), 0);
        rows.push_back(text != nullptr ? reinterpret_cast<const char*>(text) : "(null)");
    }
    return step == SQLITE_DONE;
}

bool ReadDatabase(const std::string& ansiPath, std::vector<std::string>& tables,
                  std::vector<std::string>& serverRows)
{
    return QueryDatabase(ansiPath,
                         "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name",
                         tables) &&
           QueryDatabase(ansiPath,
                         "SELECT Name || '|' || IP || '|' || Port || '|' || Username || '|' || "
                         "Password || '|' || Type FROM Server",
                         serverRows);
}
