// store/config_db.h
#pragma once

#include <string>
#include <vector>

#include "store/server_record.h"

// The configuration database client.db. Every operation opens its own
// connection, runs one statement and closes it again, so several processes can
// share the file. Text goes in and comes out as ANSI bytes, unconverted.
class CConfigDb {
public:
    CConfigDb() = default;
    virtual ~CConfigDb() = default;

    // Must precede every other operation.
    void SetDbPath(std::string path);
    bool GetDbPath(std::string& path) const;
    // The one conversion: the file path, which SQLite takes as UTF-8.
    static void AnsiToUtf8(std::string& text);

    // Creates the missing tables and the default server row; true when the
    // tables exist, whether or not the default row was new.
    bool InitDatabase();
    // False when the row is already there.
    bool InsertDefaultServer();

    bool AddApp(const std::string& path);
    // Replaces apps with the stored paths; an empty table leaves it as it was.
    bool LoadApps(std::vector<std::string>& apps);
    // True also when the path was not listed.
    bool DeleteApp(const std::string& path);

    bool SaveServer(const ServerRecord& server);
    // False unless the server row was read; the outputs then stay as they were.
    bool LoadServer(std::string& ip, int& port, std::string& username, std::string& password,
                    int& type);

    // False when the key has no row; value then stays as it was.
    bool GetSetting(const std::string& key, std::string& value);
    // Updates the key's row, or inserts it when there is none.
    bool SetSetting(const std::string& key, const std::string& value);

private:
    std::string m_dbPath;
};
