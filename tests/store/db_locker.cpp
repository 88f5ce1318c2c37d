// tests/store/db_locker.cpp
// Another process holding a lock on a database, as the tray program or the
// proxying component may at any moment:
//   kestrel_db_locker DB READY_FILE shared|exclusive HOLD_MS [RELEASE_FILE]
// Takes the lock, creates READY_FILE, holds the lock until RELEASE_FILE exists
// or HOLD_MS have passed, then releases it and ends.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <sqlite3.h>

namespace {

bool Exists(const char* path)
{
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return false;
    std::fclose(file);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 5)
        return 2;
    const bool exclusive = std::strcmp(argv[3], "exclusive") == 0;
    const auto holdFor = std::chrono::milliseconds(std::atoi(argv[4]));
    const char* releaseFile = argc > 5 ? argv[5] : nullptr;

    sqlite3* db = nullptr;
    if (sqlite3_open(argv[1], &db) != SQLITE_OK) {
        sqlite3_close(db);
        return 3;
    }
    // A deferred transaction keeps its shared lock from its first read to COMMIT.
    const char* take = exclusive ? "BEGIN EXCLUSIVE" : "BEGIN; SELECT count(*) FROM sqlite_master";
    if (sqlite3_exec(db, take, nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return 4;
    }
    std::FILE* ready = std::fopen(argv[2], "wb");
    if (ready == nullptr) {
        sqlite3_close(db);
        return 5;
    }
    std::fclose(ready);

    const auto until = std::chrono::steady_clock::now() + holdFor;
    while (std::chrono::steady_clock::now() < until && !(releaseFile && Exists(releaseFile)))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    const int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc == SQLITE_OK ? 0 : 6;
}
