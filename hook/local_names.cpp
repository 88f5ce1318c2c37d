// hook/local_names.cpp
#include "hook/local_names.h"

#include <windows.h>

#include <string_view>

#include "hook/never_destroyed.h"

namespace hook {

namespace {

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameText(std::string_view left, std::string_view right)
{
    if (left.size() != right.size())
        return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (Lower(left[i]) != Lower(right[i]))
            return false;
    }
    return true;
}

bool EndsWith(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && SameText(text.substr(text.size() - tail.size()), tail);
}

// One part of an inet_addr address: decimal, octal after "0", hex after "0x".
bool IsNumberPart(std::string_view part)
{
    if (part.empty())
        return false;
    std::size_t at = 0;
    int base = 10;
    if (part.size() > 1 && part[0] == '0') {
        base = 8;
        at = 1;
        if (Lower(part[1]) == 'x') {
            base = 16;
            at = 2;
            if (part.size() == 2)
                return false;
        }
    }
    for (; at < part.size(); ++at) {
        const char c = Lower(part[at]);
        const bool digit = base == 16 ? (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')
                                      : c >= '0' && c < static_cast<char>('0' + base);
        if (!digit)
            return false;
    }
    return true;
}

std::vector<std::string>& Names()
{
    static NeverDestroyed<std::vector<std::string>> names;
    return names.Get();
}

void AddName(COMPUTER_NAME_FORMAT format)
{
    char name[256];
    DWORD size = sizeof name;
    if (GetComputerNameExA(format, name, &size) && size > 0)
        Names().emplace_back(name, size);
}

}  // namespace

bool IsNumericHost(const std::string& text)
{
    const std::string_view host = text;
    if (host.find(':') != std::string_view::npos)
        return true;
    std::size_t parts = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = host.find('.', start);
        if (!IsNumberPart(host.substr(start, dot - start)) || ++parts > 4)
            return false;
        if (dot == std::string_view::npos)
            return true;
        start = dot + 1;
    }
}

bool IsLocalName(const std::string& host, const std::vector<std::string>& ownNames)
{
    std::string_view name = host;
    if (!name.empty() && name.back() == '.')
        name.remove_suffix(1);  // the fully qualified spelling of the same name
    if (name.find('.') == std::string_view::npos)
        return true;  // single label, "localhost" among them
    if (EndsWith(name, ".localhost") || EndsWith(name, ".local"))
        return true;
    for (const std::string& own : ownNames) {
        if (SameText(name, own))
            return true;
    }
    return false;
}

void LearnOwnNames()
{
    AddName(ComputerNameNetBIOS);
    AddName(ComputerNameDnsHostname);
    AddName(ComputerNameDnsFullyQualified);
}

const std::vector<std::string>& OwnNames()
{
    return Names();
}

}  // namespace hook
