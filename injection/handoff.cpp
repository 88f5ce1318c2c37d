// injection/handoff.cpp
#include "injection/handoff.h"

#include <utility>

namespace injection {

namespace {

// Byte layout: flags (1 covered, 2 enabled, 4 usable, 8 resident),
// address[4], port (big end first), type, user length (2), user, password
// length (2), password, folder length (2), folder (UTF-16, big end first).
enum Flag : std::uint8_t { kCovered = 1, kEnabled = 2, kUsable = 4, kResident = 8 };

void PutByte(std::string& out, std::uint8_t byte)
{
    constexpr char kDigits[] = "0123456789abcdef";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
}

void PutWide(std::string& out, const std::wstring& text)
{
    PutByte(out, static_cast<std::uint8_t>(text.size() >> 8));
    PutByte(out, static_cast<std::uint8_t>(text.size() & 0xFF));
    for (wchar_t c : text) {
        PutByte(out, static_cast<std::uint8_t>((c >> 8) & 0xFF));
        PutByte(out, static_cast<std::uint8_t>(c & 0xFF));
    }
}

void PutText(std::string& out, const std::string& text)
{
    PutByte(out, static_cast<std::uint8_t>(text.size() >> 8));
    PutByte(out, static_cast<std::uint8_t>(text.size() & 0xFF));
    for (char c : text)
        PutByte(out, static_cast<std::uint8_t>(c));
}

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text) {}

    bool Byte(std::uint8_t& byte)
    {
        if (m_text.size() < 2)
            return false;
        const int high = DigitValue(m_text[0]);
        const int low = DigitValue(m_text[1]);
        if (high < 0 || low < 0)
            return false;
        byte = static_cast<std::uint8_t>(high << 4 | low);
        m_text.remove_prefix(2);
        return true;
    }
    // A text's length, two bytes, high first; false above `longest`.
    bool Length(std::size_t longest, std::size_t& length)
    {
        std::uint8_t high = 0;
        std::uint8_t low = 0;
        if (!Byte(high) || !Byte(low))
            return false;
        length = static_cast<std::size_t>(high << 8 | low);
        return length <= longest;
    }
    bool Text(std::string& text)
    {
        std::size_t length = 0;
        if (!Length(kMaxCarriedText, length))
            return false;
        text.clear();
        for (std::size_t i = 0; i < length; ++i) {
            std::uint8_t byte = 0;
            if (!Byte(byte))
                return false;
            text += static_cast<char>(byte);
        }
        return true;
    }
    bool Wide(std::wstring& text)
    {
        std::size_t length = 0;
        if (!Length(kMaxCarriedFolder, length))
            return false;
        std::uint8_t high = 0;
        std::uint8_t low = 0;
        text.clear();
        for (std::size_t i = 0; i < length; ++i) {
            if (!Byte(high) || !Byte(low))
                return false;
            text += static_cast<wchar_t>(high << 8 | low);
        }
        return true;
    }
    bool AtEnd() const { return m_text.empty(); }

private:
    std::string_view m_text;
};

}  // namespace

Handoff Carried(const Handoff& handoff)
{
    Handoff carried = handoff;
    if (carried.user.size() > kMaxCarriedText || carried.password.size() > kMaxCarriedText) {
        carried.serverUsable = false;
        carried.user.clear();
        carried.password.clear();
    }
    // A folder too long to carry is no folder: the library's own is used.
    if (carried.configFolder.size() > kMaxCarriedFolder)
        carried.configFolder.clear();
    return carried;
}

std::string EncodeHandoff(const Handoff& original)
{
    const Handoff handoff = Carried(original);
    std::string out;
    PutByte(out, static_cast<std::uint8_t>((handoff.parentCovered ? kCovered : 0) |
                                           (handoff.enabled ? kEnabled : 0) |
                                           (handoff.serverUsable ? kUsable : 0) |
                                           (handoff.resident ? kResident : 0)));
    for (std::uint8_t byte : handoff.address)
        PutByte(out, byte);
    PutByte(out, static_cast<std::uint8_t>(handoff.port >> 8));
    PutByte(out, static_cast<std::uint8_t>(handoff.port & 0xFF));
    PutByte(out, handoff.type);
    PutText(out, handoff.user);
    PutText(out, handoff.password);
    PutWide(out, handoff.configFolder);
    return out;
}

bool DecodeHandoff(std::string_view text, Handoff& handoff)
{
    Reader reader(text);
    Handoff read;
    std::uint8_t flags = 0;
    std::uint8_t portHigh = 0;
    std::uint8_t portLow = 0;
    if (!reader.Byte(flags) || (flags & ~(kCovered | kEnabled | kUsable | kResident)) != 0)
        return false;
    for (std::uint8_t& byte : read.address) {
        if (!reader.Byte(byte))
            return false;
    }
    if (!reader.Byte(portHigh) || !reader.Byte(portLow) || !reader.Byte(read.type) ||
        !reader.Text(read.user) || !reader.Text(read.password) ||
        !reader.Wide(read.configFolder) || !reader.AtEnd())
        return false;
    read.parentCovered = (flags & kCovered) != 0;
    read.enabled = (flags & kEnabled) != 0;
    read.serverUsable = (flags & kUsable) != 0;
    read.resident = (flags & kResident) != 0;
    read.port = static_cast<std::uint16_t>(portHigh << 8 | portLow);
    handoff = std::move(read);
    return true;
}

}  // namespace injection
