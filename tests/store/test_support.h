// tests/store/test_support.h
#pragma once

#include <string>
#include <vector>

#include "common/platform.h"

struct sqlite3;

// A fresh ASCII-named directory (the same in ANSI and UTF-8), removed with its
// contents afterwards.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& name);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string File(const std::string& name) const { return m_path + kPathSeparator + name; }

private:
    std::string m_path;
};

// By the name the file system holds (UTF-8), whatever the ANSI code page.
bool MakeDirUtf8(const std::string& path);
long long FileSizeUtf8(const std::string& path);  // -1 when missing

// Makes the ANSI code page GBK (936) while alive: natively the zh_CN.GBK
// locale; under Windows it has to be the system's code page already.
class GbkCodePage {
public:
    GbkCodePage();
    ~GbkCodePage();
    GbkCodePage(const GbkCodePage&) = delete;
    GbkCodePage& operator=(const GbkCodePage&) = delete;
    bool Active() const { return m_active; }

private:
    bool m_active = false;
    std::string m_previous;
};

// The database as another party sees it: schema, NULLs, row counts.
class RawDb {
public:
    explicit RawDb(const std::string& utf8Path);
    ~RawDb();
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    bool Exec(const std::string& sql);
    // First column of every row.
    std::vector<std::string> Column(const std::string& sql);

private:
    sqlite3* m_db = nullptr;
};
