// hook/hook_config.cpp
#include "hook/hook_config.h"

#include <memory>
#include <utility>

#include <windows.h>

#include <sqlite3.h>

#include "store/ansi_utf8.h"
#include "store/sqlite_handles.h"

namespace hook {

namespace {

using Connection = SqliteConnection;
using Statement = SqliteStatement;

Statement Prepare(sqlite3* db, const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    return Statement(statement);
}

std::string ColumnText(sqlite3_stmt* statement, int column)
{
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text != nullptr
               ? std::string(reinterpret_cast<const char*>(text),
                             static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
               : std::string();
}

// A setting's value; false when there is no row (or the table is missing).
bool ReadSetting(sqlite3* db, const char* key, std::string& value, bool& failed)
{
    Statement statement = Prepare(db, "SELECT SVALUE FROM Setting WHERE SKEY = ?1");
    if (!statement) {
        failed = true;
        return false;
    }
    sqlite3_bind_text(statement.get(), 1, key, -1, SQLITE_STATIC);
    const int rc = sqlite3_step(statement.get());
    if (rc == SQLITE_ROW) {
        value = ColumnText(statement.get(), 0);
        // Two rows for one key cannot be written by Kestrel: read as missing.
        return sqlite3_step(statement.get()) == SQLITE_DONE;
    }
    failed = rc != SQLITE_DONE;
    return false;
}

void ReadPrograms(sqlite3* db, std::vector<std::string>& programs)
{
    Statement statement = Prepare(db, "SELECT Path FROM App");
    while (statement && sqlite3_step(statement.get()) == SQLITE_ROW)
        programs.push_back(ColumnText(statement.get(), 0));
}

void ReadServer(sqlite3* db, ProxyServer& server)
{
    Statement statement = Prepare(
        db, "SELECT IP, Port, Username, Password, Type FROM Server WHERE Name = 'SingleServer'");
    if (!statement || sqlite3_step(statement.get()) != SQLITE_ROW)
        return;
    server = CheckServer(ColumnText(statement.get(), 0), sqlite3_column_int64(statement.get(), 1),
                         sqlite3_column_int64(statement.get(), 4), ColumnText(statement.get(), 2),
                         ColumnText(statement.get(), 3));
}

bool ReadUtf8(const std::string& path, int busyTimeoutMs, HookConfig& config)
{
    // SQLite would open an empty name as a private temporary database.
    if (path.empty())
        return false;
    sqlite3* handle = nullptr;
    // Read-only: a missing file stays missing, and nothing is ever written.
    const int rc = sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr);
    Connection db(handle);
    if (rc != SQLITE_OK)
        return false;
    sqlite3_busy_timeout(db.get(), busyTimeoutMs);

    // One snapshot: the settings and the server seen together, as one write
    // of Kestrel left them.
    if (sqlite3_exec(db.get(), "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    HookConfig read;
    bool failed = false;
    std::string value;
    read.enabled = ReadSetting(db.get(), "Enable", value, failed) && value == "1";
    if (failed)
        return false;
    if (read.enabled) {
        read.allPrograms = ReadSetting(db.get(), "ApplyArea", value, failed) && value == "All";
        ReadPrograms(db.get(), read.programs);
        ReadServer(db.get(), read.server);
    }
    sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr);
    config = std::move(read);
    return true;
}

}  // namespace

ProxyServer CheckServer(const std::string& ip, long long port, long long type,
                        const std::string& user, const std::string& password)
{
    ProxyServer server;
    server.user = user;
    server.password = password;
    server.type = static_cast<int>(type == 4 || type == 5 ? type : 0);
    server.endpoint.port = static_cast<std::uint16_t>(port >= 1 && port <= 65535 ? port : 0);
    server.usable = socks::ParseIpv4(ip, server.endpoint.address) && server.type != 0 &&
                    server.endpoint.port != 0;
    return server;
}

bool ReadHookConfig(const std::string& ansiDbPath, int busyTimeoutMs, HookConfig& config)
{
    std::string path = ansiDbPath;
    ConvertAnsiToUtf8(path);
    return ReadUtf8(path, busyTimeoutMs, config);
}

bool ReadHookConfig(const std::wstring& dbPath, int busyTimeoutMs, HookConfig& config)
{
    std::string path;
    const int size = WideCharToMultiByte(CP_UTF8, 0, dbPath.c_str(),
                                         static_cast<int>(dbPath.size()), nullptr, 0, nullptr,
                                         nullptr);
    if (size > 0) {
        path.resize(static_cast<std::size_t>(size));
        WideCharToMultiByte(CP_UTF8, 0, dbPath.c_str(), static_cast<int>(dbPath.size()), &path[0],
                            size, nullptr, nullptr);
    }
    return ReadUtf8(path, busyTimeoutMs, config);
}

}  // namespace hook
