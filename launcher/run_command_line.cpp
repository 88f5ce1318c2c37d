// launcher/run_command_line.cpp
#include "launcher/run_command_line.h"

#include "common/command_line.h"
#include "injection/component_files.h"

namespace launcher {

namespace {

constexpr char kWaitSwitch[] = "-wait";

template <typename Char>
std::basic_string_view<Char> SkipBlanks(std::basic_string_view<Char> text)
{
    while (!text.empty() && IsCommandLineBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

// The first word and what follows it. The launcher's own name may be quoted
// (Windows quotes paths with blanks); switches and numbers never are.
template <typename Char>
std::basic_string_view<Char> TakeWord(std::basic_string_view<Char>& text)
{
    text = SkipBlanks(text);
    std::size_t end = 0;
    if (!text.empty() && text.front() == '"') {
        end = text.find(Char('"'), 1);
        end = end == std::basic_string_view<Char>::npos ? text.size() : end + 1;
    } else {
        while (end < text.size() && !IsCommandLineBlank(text[end]))
            ++end;
    }
    const std::basic_string_view<Char> word = text.substr(0, end);
    text.remove_prefix(end);
    return word;
}

// Switches are ASCII: compared character by character in either width.
template <typename Char>
bool IsSwitch(std::basic_string_view<Char> word, std::string_view name)
{
    if (word.size() != name.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] != static_cast<Char>(static_cast<unsigned char>(name[i])))
            return false;
    }
    return true;
}

template <typename Char>
bool ParseNumber(std::basic_string_view<Char> word, std::uint64_t limit, std::uint64_t& value)
{
    if (word.empty() || word.size() > 20)
        return false;
    std::uint64_t parsed = 0;
    for (Char c : word) {
        if (c < '0' || c > '9')
            return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (parsed > (limit - digit) / 10)
            return false;
        parsed = parsed * 10 + digit;
    }
    value = parsed;
    return true;
}

template <typename Char>
bool ParseId(std::basic_string_view<Char> word, unsigned long& value)
{
    std::uint64_t parsed = 0;
    if (!ParseNumber(word, 0xFFFFFFFFull, parsed))
        return false;
    value = static_cast<unsigned long>(parsed);
    return true;
}

// Hex digits only; anything else makes the request invalid.
template <typename Char>
bool TakeHex(std::basic_string_view<Char> word, std::string& text)
{
    if (word.empty())
        return false;
    text.clear();
    for (Char c : word) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
        text += static_cast<char>(c);
    }
    return true;
}

template <typename Char>
BasicRunRequest<Char> Parse(std::basic_string_view<Char> line)
{
    BasicRunRequest<Char> request;
    TakeWord(line);  // the launcher itself
    std::basic_string_view<Char> rest = line;
    const std::basic_string_view<Char> first = TakeWord(rest);
    if (IsSwitch(first, injection::kAttachSwitch)) {
        const bool parsed = ParseId(TakeWord(rest), request.processId) &&
                            ParseId(TakeWord(rest), request.threadId) &&
                            ParseNumber(TakeWord(rest), ~0ull, request.readyEvent) &&
                            TakeHex(TakeWord(rest), request.handoff);
        if (parsed && SkipBlanks(rest).empty())
            request.mode = RunMode::Attach;
        return request;
    }
    if (IsSwitch(first, injection::kShellSwitch)) {
        const bool parsed =
            ParseId(TakeWord(rest), request.processId) && TakeHex(TakeWord(rest), request.handoff);
        if (parsed && SkipBlanks(rest).empty())
            request.mode = RunMode::Shell;
        return request;
    }
    if (IsSwitch(first, kWaitSwitch)) {
        request.wait = true;
        line = rest;
    }
    line = SkipBlanks(line);
    if (!line.empty()) {
        request.mode = RunMode::Run;
        request.programLine = std::basic_string<Char>(line);
    }
    return request;
}

}  // namespace

RunRequest ParseRunCommandLine(std::string_view line)
{
    return Parse(line);
}

WideRunRequest ParseRunCommandLine(std::wstring_view line)
{
    return Parse(line);
}

}  // namespace launcher
