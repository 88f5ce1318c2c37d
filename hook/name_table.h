// hook/name_table.h
// The names this process had resolved by the proxy, each standing behind an
// address of the benchmarking range 198.18.0.0/15, which no real destination
// uses: the program connects to the address, and the library sends the name
// in its place. The same name keeps its address while the table holds it; the
// least recently used name leaves when it is full, and addresses are handed
// out in turn around the whole range, so that a dropped address is reused as
// late as possible. The IPv6 forms are the IPv4-mapped one and 2001:2::/48
// (IPv6's benchmarking range) with the IPv4 address in its last 32 bits.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

namespace hook {

// The reserved range, host order.
constexpr std::uint32_t kReservedFirst = 0xC6120000;  // 198.18.0.0
constexpr std::uint32_t kReservedSize = 0x20000;      // a /15

bool IsReservedIpv4(std::uint32_t address);
// The reserved IPv4 address behind any form of one (IPv4, IPv4-mapped, the
// 2001:2:: form), or 0 when `name` is none of them.
std::uint32_t ReservedAddressOf(const sockaddr* name, int nameLength);

// The three forms a program may ask for.
enum class AddressForm { Ipv4, Mapped, Ipv6 };
// The address as numeric text in that form.
std::string ReservedText(std::uint32_t address, AddressForm form);

class NameTable {
public:
    explicit NameTable(std::size_t capacity);

    // The address standing for `name` (made lower case), a new one if the
    // table does not hold it. 0 for a name no SOCKS request can carry.
    std::uint32_t AddressFor(const std::string& name);
    // The name behind `address`; false when the table does not hold it.
    bool NameOf(std::uint32_t address, std::string& name);
    std::size_t Size() const { return m_byName.size(); }

private:
    struct Entry {
        std::string name;
        std::uint32_t address;
    };
    using Order = std::list<Entry>;  // most recently used first

    void Touch(Order::iterator entry);
    std::uint32_t NextFreeAddress();

    std::size_t m_capacity;
    Order m_order;
    std::unordered_map<std::string, Order::iterator> m_byName;
    std::unordered_map<std::uint32_t, Order::iterator> m_byAddress;
    std::uint32_t m_next = 1;  // offset into the range; the range's own address is skipped
};

// The process's table, under a lock: every call of the program may reach it.
std::uint32_t AddressForName(const std::string& name);
bool NameForAddress(std::uint32_t address, std::string& name);

}  // namespace hook
