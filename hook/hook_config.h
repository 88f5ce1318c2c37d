// hook/hook_config.h
// What the hook library reads from client.db, once, when it is loaded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "socks/socks_messages.h"

namespace hook {

// The stored proxy server, checked: `usable` is false for an address that is
// not dotted decimal IPv4, a port outside 1-65535, a type other than 4 or 5,
// or no server row at all. Covered programs then fail every connect that
// would have gone through it.
struct ProxyServer {
    bool usable = false;
    socks::Ipv4Endpoint endpoint{};
    int type = 0;  // 4 or 5
    std::string user;
    std::string password;
};

struct HookConfig {
    bool enabled = false;               // "Enable" is exactly "1"
    bool allPrograms = false;           // "ApplyArea" is exactly "All"
    std::vector<std::string> programs;  // the App rows, ANSI
    ProxyServer server;
};

// How long a read waits for a writer's lock before giving up.
constexpr int kConfigBusyTimeoutMs = 1000;

// Reads the configuration in one read-only transaction and closes the file.
// False when the database is missing (it is never created), cannot be read
// within busyTimeoutMs, or has no Setting table: the process then stays
// untouched. Other tables that cannot be read leave their part empty.
bool ReadHookConfig(const std::string& ansiDbPath, int busyTimeoutMs, HookConfig& config);
// The same by a wide path, which a folder outside the ANSI code page needs.
bool ReadHookConfig(const std::wstring& dbPath, int busyTimeoutMs, HookConfig& config);

// The server row's values as stored; a NULL reads as empty text or 0.
ProxyServer CheckServer(const std::string& ip, long long port, long long type,
                        const std::string& user, const std::string& password);

}  // namespace hook
