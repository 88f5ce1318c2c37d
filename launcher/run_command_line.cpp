// launcher/run_command_line.cpp
#include "launcher/run_command_line.h"

#include "injection/component_files.h"

namespace launcher {

namespace {

constexpr char kWaitSwitch[] = "-wait";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view SkipBlanks(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

// The first word and what follows it. The launcher's own name may be quoted
// (Windows quotes paths with blanks); switches and numbers never are.
std::string_view TakeWord(std::string_view& text)
{
    text = SkipBlanks(text);
    std::size_t end = 0;
    if (!text.empty() && text.front() == '"') {
        end = text.find('"', 1);
        end = end == std::string_view::npos ? text.size() : end + 1;
    } else {
        while (end < text.size() && !IsBlank(text[end]))
            ++end;
    }
    const std::string_view word = text.substr(0, end);
    text.remove_prefix(end);
    return word;
}

bool ParseNumber(std::string_view word, unsigned long& value)
{
    if (word.empty() || word.size() > 10)
        return false;
    unsigned long long parsed = 0;
    for (char c : word) {
        if (c < '0' || c > '9')
            return false;
        parsed = parsed * 10 + static_cast<unsigned>(c - '0');
    }
    if (parsed > 0xFFFFFFFFull)
        return false;
    value = static_cast<unsigned long>(parsed);
    return true;
}

}  // namespace

RunRequest ParseRunCommandLine(std::string_view line)
{
    RunRequest request;
    TakeWord(line);  // the launcher itself
    std::string_view rest = line;
    const std::string_view first = TakeWord(rest);
    if (first == injection::kAttachSwitch) {
        const bool numbers = ParseNumber(TakeWord(rest), request.processId) &&
                             ParseNumber(TakeWord(rest), request.threadId);
        if (numbers && SkipBlanks(rest).empty())
            request.mode = RunRequest::Mode::Attach;
        return request;
    }
    if (first == kWaitSwitch) {
        request.wait = true;
        line = rest;
    }
    line = SkipBlanks(line);
    if (!line.empty()) {
        request.mode = RunRequest::Mode::Run;
        request.programLine = std::string(line);
    }
    return request;
}

}  // namespace launcher
