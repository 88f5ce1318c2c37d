// store/sqlite_handles.h
// Owners of the engine's connection and statement handles, for every reader
// and writer of client.db.
#pragma once

#include <memory>

#include <sqlite3.h>

struct SqliteConnectionCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using SqliteConnection = std::unique_ptr<sqlite3, SqliteConnectionCloser>;

struct SqliteStatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer>;
