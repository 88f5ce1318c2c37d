// store/config_db.cpp
#include "store/config_db.h"

#include <climits>
#include <memory>
#include <utility>

#include <sqlite3.h>

#include "store/ansi_utf8.h"
#include "store/sqlite_handles.h"

namespace {

// Kestrel is the only writer, but the tray program and the proxying component
// read the file at any moment: a write waits out such a short read lock rather
// than being lost. Reads never wait; their callers fall back to defaults.
constexpr int kWriteBusyTimeoutMs = 2000;

const char* const kCreateStatements[] = {
    "CREATE TABLE IF NOT EXISTS App (Path TEXT(512) UNIQUE)",
    "CREATE TABLE IF NOT EXISTS Server (Name TEXT(100) UNIQUE, IP TEXT(512), Port INT, "
    "Username TEXT(50), Password TEXT(50), Type INT)",
    "CREATE TABLE IF NOT EXISTS Setting (SKEY TEXT(20) UNIQUE, SVALUE TEXT(100))",
};
const char kInsertDefaultServer[] =
    "INSERT INTO Server (Name, IP, Port, Username, Password, Type) "
    "values ('SingleServer', '', 1080, '', '', 5)";

using Connection = SqliteConnection;

struct EngineFree {
    void operator()(char* text) const { sqlite3_free(text); }
};
// Error texts are released unread: callers only learn success or failure.
using ErrorText = std::unique_ptr<char, EngineFree>;

enum class Access { Read, Write };

// A text value between single quotes: doubling its quotes keeps it one literal.
std::string Literal(const std::string& value)
{
    std::string text;
    text.reserve(value.size() + 2);
    for (char c : value) {
        text += c;
        if (c == '\'')
            text += '\'';
    }
    return text;
}

// Leading decimal number: optional sign, then digits; none reads as 0.
// Values beyond int are clamped rather than overflowing.
int LeadingNumber(const char* text)
{
    if (text == nullptr)
        return 0;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > limit)
            magnitude = limit;
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

// The sqlite3_get_table result: row 0 holds the column names; a SQL NULL is a
// null pointer, read as empty text or 0.
class QueryTable {
public:
    void Adopt(char** cells, int rows, int columns)
    {
        m_cells.reset(cells);
        m_rows = cells != nullptr ? rows : 0;
        m_columns = cells != nullptr ? columns : 0;
    }
    int Rows() const { return m_rows; }
    int Columns() const { return m_columns; }
    std::string Text(int row, int column) const
    {
        const char* cell = Cell(row, column);
        return cell != nullptr ? cell : "";
    }
    int Number(int row, int column) const { return LeadingNumber(Cell(row, column)); }

private:
    struct TableFree {
        void operator()(char** cells) const { sqlite3_free_table(cells); }
    };
    const char* Cell(int row, int column) const
    {
        return m_cells.get()[(row + 1) * m_columns + column];
    }
    std::unique_ptr<char*, TableFree> m_cells;
    int m_rows = 0;
    int m_columns = 0;
};

bool Open(const CConfigDb& store, Access access, Connection& db)
{
    std::string path;
    store.GetDbPath(path);
    // SQLite would open an empty name as a private temporary database.
    if (path.empty())
        return false;
    CConfigDb::AnsiToUtf8(path);
    sqlite3* handle = nullptr;
    const int rc = sqlite3_open(path.c_str(), &handle);
    db.reset(handle);  // closed also when the open failed
    if (rc != SQLITE_OK)
        return false;
    if (access == Access::Write)
        sqlite3_busy_timeout(handle, kWriteBusyTimeoutMs);
    return true;
}

bool Execute(sqlite3* db, const std::string& sql)
{
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    ErrorText unread(error);
    return rc == SQLITE_OK;
}

bool RunStatement(const CConfigDb& store, const std::string& sql)
{
    Connection db;
    return Open(store, Access::Write, db) && Execute(db.get(), sql);
}

bool RunQuery(const CConfigDb& store, const std::string& sql, QueryTable& table)
{
    Connection db;
    if (!Open(store, Access::Read, db))
        return false;
    char** cells = nullptr;
    int rows = 0;
    int columns = 0;
    char* error = nullptr;
    const int rc = sqlite3_get_table(db.get(), sql.c_str(), &cells, &rows, &columns, &error);
    ErrorText unread(error);
    table.Adopt(cells, rows, columns);
    return rc == SQLITE_OK;
}

}  // namespace

void CConfigDb::SetDbPath(std::string path)
{
    m_dbPath = std::move(path);
}

bool CConfigDb::GetDbPath(std::string& path) const
{
    path = m_dbPath;
    return true;
}

void CConfigDb::AnsiToUtf8(std::string& text)
{
    ConvertAnsiToUtf8(text);
}

bool CConfigDb::InitDatabase()
{
    Connection db;
    if (!Open(*this, Access::Write, db))
        return false;
    for (const char* create : kCreateStatements) {
        if (!Execute(db.get(), create))
            return false;
    }
    // Fails on every start after the first: the stored server must survive.
    Execute(db.get(), kInsertDefaultServer);
    return true;
}

bool CConfigDb::InsertDefaultServer()
{
    return RunStatement(*this, kInsertDefaultServer);
}

bool CConfigDb::AddApp(const std::string& path)
{
    return RunStatement(*this, "INSERT INTO App (Path) values ('" + Literal(path) + "')");
}

bool CConfigDb::LoadApps(std::vector<std::string>& apps)
{
    QueryTable table;
    if (!RunQuery(*this, "Select Path From App", table))
        return false;
    if (table.Rows() > 0 && table.Columns() == 1) {
        std::vector<std::string> loaded;
        loaded.reserve(static_cast<std::size_t>(table.Rows()));
        for (int row = 0; row < table.Rows(); ++row)
            loaded.push_back(table.Text(row, 0));
        apps.swap(loaded);
    }
    return true;
}

bool CConfigDb::DeleteApp(const std::string& path)
{
    return RunStatement(*this, "Delete From App Where Path = '" + Literal(path) + "'");
}

bool CConfigDb::SaveServer(const ServerRecord& server)
{
    return RunStatement(
        *this, "Update Server Set IP = '" + Literal(server.IP) +
                   "',Port = " + std::to_string(server.Port) + ",Username = '" +
                   Literal(server.Username) + "',Password = '" + Literal(server.Password) +
                   "', Type = " + std::to_string(server.Type) + "  Where Name = 'SingleServer'");
}

bool CConfigDb::LoadServer(std::string& ip, int& port, std::string& username, std::string& password,
                           int& type)
{
    QueryTable table;
    if (!RunQuery(*this,
                  "Select IP,Port,UserName,Password,Type From Server Where Name = 'SingleServer' ",
                  table))
        return false;
    if (table.Rows() != 1 || table.Columns() != 5)
        return false;
    ip = table.Text(0, 0);
    port = table.Number(0, 1);
    username = table.Text(0, 2);
    password = table.Text(0, 3);
    type = table.Number(0, 4);
    return true;
}

bool CConfigDb::GetSetting(const std::string& key, std::string& value)
{
    QueryTable table;
    if (!RunQuery(*this, "Select SVALUE From Setting Where SKEY = '" + Literal(key) + "' ", table))
        return false;
    if (table.Rows() != 1 || table.Columns() != 1)
        return false;
    value = table.Text(0, 0);
    return true;
}

bool CConfigDb::SetSetting(const std::string& key, const std::string& value)
{
    // One connection for both steps, as for every other write: the key's row is
    // updated, or inserted when the update found none.
    Connection db;
    if (!Open(*this, Access::Write, db))
        return false;
    if (!Execute(db.get(), "Update Setting Set SVALUE = '" + Literal(value) + "' Where SKEY = '" +
                               Literal(key) + "'"))
        return false;
    return sqlite3_changes(db.get()) > 0 ||
           Execute(db.get(), "Insert into Setting (SKEY, SVALUE) values('" + Literal(key) + "','" +
                                 Literal(value) + "')");
}
