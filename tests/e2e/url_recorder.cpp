// tests/e2e/url_recorder.cpp
#include "tests/e2e/url_recorder.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>

#include "tests/e2e/text.h"

namespace e2e {

namespace {
const char kBrowserKey[] = "Software\\Wine\\WineBrowser";
}  // namespace

UrlRecorder::UrlRecorder(const std::string& logName)
{
    const char* recorder = std::getenv("KESTREL_URL_RECORDER");
    const char* folder = std::getenv("KESTREL_TEST_TMP");
    if (recorder == nullptr || folder == nullptr)
        return;
    // The recorder runs as a Linux program, given Linux paths.
    const std::string log = std::string(folder) + "/" + logName;
    m_logPath = WindowsPathFromUnix(log);
    DeleteFileA(m_logPath.c_str());
    const std::string browsers = "/bin/sh \"" + std::string(recorder) + "\" \"" + log + "\"";
    m_ready = RegSetKeyValueA(HKEY_CURRENT_USER, kBrowserKey, "Browsers", REG_SZ, browsers.c_str(),
                              static_cast<DWORD>(browsers.size() + 1)) == ERROR_SUCCESS;
}

UrlRecorder::~UrlRecorder()
{
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kBrowserKey, "Browsers");
}

std::vector<std::string> UrlRecorder::Urls() const
{
    std::vector<std::string> urls;
    std::ifstream log(m_logPath);
    for (std::string line; std::getline(log, line);)
        urls.push_back(line);
    return urls;
}

}  // namespace e2e
