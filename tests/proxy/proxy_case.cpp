// tests/proxy/proxy_case.cpp
#include "tests/proxy/proxy_case.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <fstream>
#include <sstream>

#include <sqlite3.h>

#include "framework/handles.h"
#include "store/config_db.h"
#include "tests/e2e/process.h"
#include "tests/e2e/text.h"

namespace {

#ifdef _WIN64
const char kLauncher[] = "KestrelRun64.exe";
const char kHook[] = "KestrelHook64.dll";
const char kOtherLauncher[] = "KestrelRun.exe";
const char kOtherHook[] = "KestrelHook.dll";
#else
const char kLauncher[] = "KestrelRun.exe";
const char kHook[] = "KestrelHook.dll";
const char kOtherLauncher[] = "KestrelRun64.exe";
const char kOtherHook[] = "KestrelHook64.dll";
#endif

// A client never takes this long, not even when it waits out a silent proxy.
constexpr DWORD kClientPatienceMs = 60000;

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string WindowsPath(const char* name)
{
    return e2e::WindowsPathFromUnix(Environment(name));
}

int Number(const char* name)
{
    return std::atoi(Environment(name).c_str());
}

// Winsock for the test program itself, and the guard that keeps every test
// inside the namespace run-isolated made: only there is the test address this
// machine's own, so binding to it proves that Wine's sockets are made there.
class IsolatedNetwork : public ::testing::Environment {
public:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
        const Network& network = TestNetwork();
        ASSERT_FALSE(network.address.empty()) << "run the proxy tests through run-isolated";
        SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = inet_addr(network.address.c_str());
        const int bound = bind(probe, reinterpret_cast<const sockaddr*>(&local), sizeof local);
        closesocket(probe);
        ASSERT_EQ(0, bound) << network.address
                            << " is not this machine's: not inside the test namespace";
    }
    void TearDown() override { WSACleanup(); }
};

[[maybe_unused]] ::testing::Environment* const kIsolated =
    ::testing::AddGlobalTestEnvironment(new IsolatedNetwork);

void CopyInto(const std::string& from, const std::string& to)
{
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " -> " << to;
}

}  // namespace

const Network& TestNetwork()
{
    static const Network network = [] {
        Network n;
        n.address = Environment("KESTREL_PROXY_ADDRESS");
        n.address6 = Environment("KESTREL_PROXY_ADDRESS6");
        n.httpPort = Number("KESTREL_PROXY_HTTP_PORT");
        n.echoPort = Number("KESTREL_PROXY_ECHO_PORT");
        n.relayPort = Number("KESTREL_PROXY_RELAY_PORT");
        n.realServerBase = Number("KESTREL_TEST_PORT_BASE");
        n.realUser = Environment("KESTREL_TEST_SOCKS_USER");
        n.realPassword = Environment("KESTREL_TEST_SOCKS_PASS");
        return n;
    }();
    return network;
}

ClientResult ParseResult(const std::string& line)
{
    ClientResult result;
    std::istringstream words(line);
    std::string outcome;
    words >> outcome;
    result.ok = outcome == "ok";
    if (result.ok)
        words >> result.peer;
    else
        words >> result.error;
    words >> result.elapsedMs >> result.trace;
    return result;
}

std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

void ProxyCase::SetUp()
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    m_folder = WindowsPath("KESTREL_TEST_TMP") + "\\proxy\\" + test->test_suite_name() + "." +
               test->name();
    for (char& c : m_folder)
        if (c == '/')
            c = '_';  // parameterised names
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
    ASSERT_TRUE(std::filesystem::create_directories(m_folder)) << m_folder;
    ASSERT_NO_FATAL_FAILURE(CopyInto(WindowsPath("KESTREL_PROXY_RUN"), Program(kLauncher)));
    ASSERT_NO_FATAL_FAILURE(CopyInto(WindowsPath("KESTREL_PROXY_HOOK"), Program(kHook)));
    ASSERT_NO_FATAL_FAILURE(CopyInto(WindowsPath("KESTREL_PROXY_CLIENT"), Program("client.exe")));
    if (HaveOtherWidth()) {
        const std::string other = WindowsPath("KESTREL_PROXY_OTHER_BUILD");
        CopyInto(other + "\\launcher\\" + kOtherLauncher, Program(kOtherLauncher));
        CopyInto(other + "\\hook\\" + kOtherHook, Program(kOtherHook));
    }
    DeleteFileA((WindowsPath("KESTREL_PROXY_WORK") + "\\relay.log").c_str());
    DeleteFileA((WindowsPath("KESTREL_PROXY_WORK") + "\\direct.log").c_str());
    DeleteFileA((WindowsPath("KESTREL_PROXY_WORK") + "\\dns.log").c_str());
}

void ProxyCase::Configure(const ServerRecord& server, const char* enable, const char* applyArea)
{
    CConfigDb db;
    db.SetDbPath(Db());
    ASSERT_TRUE(db.InitDatabase());
    ASSERT_TRUE(db.SaveServer(server));
    if (enable != nullptr) {
        ASSERT_TRUE(db.SetSetting("Enable", enable));
    }
    if (applyArea != nullptr) {
        ASSERT_TRUE(db.SetSetting("ApplyArea", applyArea));
    }
}

ServerRecord ProxyCase::Relay(int offset, int type) const
{
    ServerRecord server;
    server.IP = "127.0.0.1";
    server.Port = TestNetwork().relayPort + offset;
    server.Type = type;
    return server;
}

std::string ProxyCase::CopyClient(const std::string& name, bool otherWidth) const
{
    const std::string from =
        otherWidth ? WindowsPath("KESTREL_PROXY_OTHER_BUILD") + "\\tests\\proxy\\proxy_client.exe"
                   : WindowsPath("KESTREL_PROXY_CLIENT");
    CopyFileA(from.c_str(), Program(name).c_str(), FALSE);
    return Program(name);
}

std::string ProxyCase::CopyDelayLoadedClient(const std::string& name) const
{
    CopyFileA(WindowsPath("KESTREL_PROXY_CLIENT_DELAY").c_str(), Program(name).c_str(), FALSE);
    return Program(name);
}

bool ProxyCase::HaveOtherWidth() const
{
    const std::string other = WindowsPath("KESTREL_PROXY_OTHER_BUILD");
    return !other.empty() &&
           GetFileAttributesA((other + "\\launcher\\" + kOtherLauncher).c_str()) !=
               INVALID_FILE_ATTRIBUTES;
}

std::string ProxyCase::Launcher() const
{
    return Program(kLauncher);
}

std::string ProxyCase::OtherWidthLauncher() const
{
    return Program(kOtherLauncher);
}

std::string ProxyCase::ResultFile(const std::string& name) const
{
    return m_folder + "\\" + name + ".txt";
}

std::vector<std::string> ProxyCase::RunClient(const std::string& arguments, bool covered,
                                              const std::string& launcher,
                                              const std::string& client)
{
    const std::string result = ResultFile("result");
    DeleteFileA(result.c_str());
    const std::string program = client.empty() ? Program("client.exe") : client;
    const std::string line = "\"" + result + "\" " + arguments;
    std::unique_ptr<e2e::Process> process;
    if (covered) {
        const std::string run = launcher.empty() ? Program(kLauncher) : launcher;
        process =
            std::make_unique<e2e::Process>(run, "-wait \"" + program + "\" " + line, m_folder);
    } else {
        process = std::make_unique<e2e::Process>(program, line, m_folder);
    }
    EXPECT_TRUE(process->Started()) << arguments;
    EXPECT_TRUE(process->WaitForExit(kClientPatienceMs)) << arguments;
    return ReadLines(result);
}

std::vector<std::vector<std::string>> ProxyCase::RunClientsTogether(
    const std::vector<std::string>& arguments)
{
    std::vector<std::unique_ptr<e2e::Process>> processes;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string result = ResultFile("result" + std::to_string(i));
        DeleteFileA(result.c_str());
        processes.push_back(std::make_unique<e2e::Process>(
            Launcher(), "-wait \"" + Program("client.exe") + "\" \"" + result + "\" " + arguments[i],
            m_folder));
        EXPECT_TRUE(processes.back()->Started()) << arguments[i];
    }
    std::vector<std::vector<std::string>> results;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        EXPECT_TRUE(processes[i]->WaitForExit(kClientPatienceMs)) << arguments[i];
        results.push_back(ReadLines(ResultFile("result" + std::to_string(i))));
    }
    return results;
}

ClientResult ProxyCase::Connect(const std::string& style, const std::string& address, int port,
                                bool covered)
{
    const std::vector<std::string> lines =
        RunClient(style + " " + address + " " + std::to_string(port), covered);
    EXPECT_EQ(1u, lines.size()) << style;
    return lines.empty() ? ClientResult{} : ParseResult(lines[0]);
}

std::vector<std::string> ProxyCase::RelayLog() const
{
    return ReadLines(WindowsPath("KESTREL_PROXY_WORK") + "\\relay.log");
}

std::vector<std::string> ProxyCase::DirectLog() const
{
    return ReadLines(WindowsPath("KESTREL_PROXY_WORK") + "\\direct.log");
}

std::vector<std::string> ProxyCase::DnsLog() const
{
    return ReadLines(WindowsPath("KESTREL_PROXY_WORK") + "\\dns.log");
}

std::string ProxyCase::RelayLine(int offset, int version, const std::string& target) const
{
    return std::to_string(TestNetwork().relayPort + offset) + " socks" + std::to_string(version) +
           " " + target;
}

ExclusiveLock::ExclusiveLock(const std::string& path)
{
    sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
    m_held = sqlite3_exec(m_db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
}

void ExclusiveLock::Release()
{
    if (m_db != nullptr) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(m_db);
        m_db = nullptr;
    }
}
