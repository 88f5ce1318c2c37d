// injection/handoff.h
// What a parent hands a child it starts with the library: whether the parent
// itself is covered, and the configuration it read. A child that cannot read
// client.db then still knows it must be covered, and through which server.
// The launcher reads no database and hands over "not covered".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace injection {

struct Handoff {
    // The library goes into a program already running (a shell) rather than
    // one starting: it carries itself on to what the program starts, and a
    // failure leaves the program running.
    bool resident = false;
    // The folder of client.db and of the component's files, when the library
    // runs from a copy elsewhere; empty: the library's own folder.
    std::wstring configFolder;
    bool parentCovered = false;
    bool enabled = false;
    // The server, as hook::ProxyServer holds it; unusable fails every connect.
    bool serverUsable = false;
    std::array<std::uint8_t, 4> address{};
    std::uint16_t port = 0;
    std::uint8_t type = 0;
    std::string user;
    std::string password;
};

// The longest user name or password carried. SOCKS 5 sends at most 255
// bytes; a longer one is carried as an unusable server, which fails the
// child's connects as the parent's would fail.
constexpr std::size_t kMaxCarriedText = 1024;
constexpr std::size_t kMaxCarriedFolder = 1024;  // characters

// The handoff as the launcher of the other width receives it on its command
// line: hex digits only, so no quoting or code page can change it.
std::string EncodeHandoff(const Handoff& handoff);
// False for text EncodeHandoff cannot have made.
bool DecodeHandoff(std::string_view text, Handoff& handoff);

// The handoff with an over-long user name or password turned into an
// unusable server, as every carrier stores it.
Handoff Carried(const Handoff& handoff);

}  // namespace injection
