// tests/e2e/url_recorder.h
#pragma once

#include <string>
#include <vector>

namespace e2e {

// While it lives, http addresses opened under this Wine are recorded instead
// of shown: Wine's URL handler runs the programs that the value "Browsers" of
// HKCU\Software\Wine\WineBrowser lists, which then names the script
// KESTREL_URL_RECORDER and a log file under KESTREL_TEST_TMP. Wine's default
// list comes back afterwards.
class UrlRecorder {
public:
    explicit UrlRecorder(const std::string& logName);
    ~UrlRecorder();
    UrlRecorder(const UrlRecorder&) = delete;
    UrlRecorder& operator=(const UrlRecorder&) = delete;

    bool Ready() const { return m_ready; }
    // The addresses opened so far, oldest first.
    std::vector<std::string> Urls() const;

private:
    std::string m_logPath;
    bool m_ready = false;
};

}  // namespace e2e
