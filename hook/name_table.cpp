// hook/name_table.cpp
#include "hook/name_table.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "hook/never_destroyed.h"
#include "socks/socks_messages.h"

namespace hook {

namespace {

// Enough for every site a browser session visits; about 300 bytes a name.
constexpr std::size_t kTableCapacity = 8192;

const std::uint8_t kIpv6Prefix[12] = {0x20, 0x01, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0};
const std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

std::uint32_t ReadAddress(const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
}

std::uint32_t Reserved(std::uint32_t address)
{
    return IsReservedIpv4(address) ? address : 0;
}

struct Shared {
    SRWLOCK lock = SRWLOCK_INIT;
    NameTable table{kTableCapacity};
};

Shared& Process()
{
    static NeverDestroyed<Shared> shared;
    return shared.Get();
}

}  // namespace

bool IsReservedIpv4(std::uint32_t address)
{
    return address - kReservedFirst < kReservedSize;
}

std::uint32_t ReservedAddressOf(const sockaddr* name, int nameLength)
{
    if (name == nullptr)
        return 0;
    if (name->sa_family == AF_INET && nameLength >= static_cast<int>(sizeof(sockaddr_in))) {
        std::uint8_t bytes[4];
        std::memcpy(bytes, &reinterpret_cast<const sockaddr_in*>(name)->sin_addr, 4);
        return Reserved(ReadAddress(bytes));
    }
    // The scope id is not needed: older programs pass the shorter form.
    if (name->sa_family == AF_INET6 &&
        nameLength >= static_cast<int>(offsetof(sockaddr_in6, sin6_scope_id))) {
        std::uint8_t bytes[16];
        std::memcpy(bytes, &reinterpret_cast<const sockaddr_in6*>(name)->sin6_addr, 16);
        if (std::memcmp(bytes, kMappedPrefix, 12) == 0 || std::memcmp(bytes, kIpv6Prefix, 12) == 0)
            return Reserved(ReadAddress(bytes + 12));
    }
    return 0;
}

std::string ReservedText(std::uint32_t address, AddressForm form)
{
    // Formatted by hand: this is on every lookup's path.
    std::string text;
    auto decimal = [&text](unsigned value) {
        if (value >= 100)
            text += static_cast<char>('0' + value / 100);
        if (value >= 10)
            text += static_cast<char>('0' + value / 10 % 10);
        text += static_cast<char>('0' + value % 10);
    };
    auto hex = [&text](unsigned value) {
        static const char kDigits[] = "0123456789abcdef";
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = (value >> shift) & 0xF;
            started = started || digit != 0 || shift == 0;
            if (started)
                text += kDigits[digit];
        }
    };
    if (form == AddressForm::Ipv6) {
        text = "2001:2::";
        hex(address >> 16);
        text += ':';
        hex(address & 0xFFFF);
        return text;
    }
    if (form == AddressForm::Mapped)
        text = "::ffff:";
    for (int shift = 24; shift >= 0; shift -= 8) {
        decimal((address >> shift) & 0xFF);
        if (shift != 0)
            text += '.';
    }
    return text;
}

NameTable::NameTable(std::size_t capacity) : m_capacity(std::max<std::size_t>(capacity, 1))
{
}

void NameTable::Touch(Order::iterator entry)
{
    m_order.splice(m_order.begin(), m_order, entry);
}

std::uint32_t NameTable::NextFreeAddress()
{
    // The table holds far fewer names than the range has addresses, so a
    // free one is always near.
    for (;;) {
        const std::uint32_t address = kReservedFirst + m_next;
        m_next = m_next + 1 < kReservedSize - 1 ? m_next + 1 : 1;  // skips the last too
        if (m_byAddress.find(address) == m_byAddress.end())
            return address;
    }
}

std::uint32_t NameTable::AddressFor(const std::string& name)
{
    if (name.empty() || name.size() > socks::kMaxSocks5NameSize)
        return 0;
    std::string key = name;
    for (char& c : key)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    const auto found = m_byName.find(key);
    if (found != m_byName.end()) {
        Touch(found->second);
        return found->second->address;
    }
    if (m_byName.size() >= m_capacity) {
        const Entry& oldest = m_order.back();
        m_byName.erase(oldest.name);
        m_byAddress.erase(oldest.address);
        m_order.pop_back();
    }
    const std::uint32_t address = NextFreeAddress();
    m_order.push_front({key, address});
    m_byName.emplace(key, m_order.begin());
    m_byAddress.emplace(address, m_order.begin());
    return address;
}

bool NameTable::NameOf(std::uint32_t address, std::string& name)
{
    const auto found = m_byAddress.find(address);
    if (found == m_byAddress.end())
        return false;
    Touch(found->second);
    name = found->second->name;
    return true;
}

std::uint32_t AddressForName(const std::string& name)
{
    Shared& shared = Process();
    AcquireSRWLockExclusive(&shared.lock);
    std::uint32_t address = 0;
    try {
        address = shared.table.AddressFor(name);
    } catch (...) {
        address = 0;  // out of memory: the lookup fails, as the program's would
    }
    ReleaseSRWLockExclusive(&shared.lock);
    return address;
}

bool NameForAddress(std::uint32_t address, std::string& name)
{
    Shared& shared = Process();
    AcquireSRWLockExclusive(&shared.lock);
    bool found = false;
    try {
        found = shared.table.NameOf(address, name);
    } catch (...) {
        found = false;
    }
    ReleaseSRWLockExclusive(&shared.lock);
    return found;
}

}  // namespace hook
