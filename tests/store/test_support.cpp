// tests/store/test_support.cpp
#include "tests/store/test_support.h"

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <sqlite3.h>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

fs::path FsPath(const std::string& utf8)
{
#ifdef _WIN32
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(
        static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)),
        L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &wide[0], static_cast<int>(wide.size()));
    return fs::path(wide);
#else
    return fs::path(utf8);
#endif
}

std::string ScratchRoot()
{
    // Under Wine the build's scratch directory is a Unix path: use Windows' own.
#ifdef _WIN32
    const char* root = nullptr;
#else
    const char* root = std::getenv("KESTREL_TEST_TMP");
#endif
    std::string path = root != nullptr && *root != '\0' ? root : fs::temp_directory_path().string();
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\'))
        path.pop_back();
    return path;
}

}  // namespace

ScratchDir::ScratchDir(const std::string& name)
{
#ifdef _WIN32
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    m_path = ScratchRoot() + kPathSeparator + "kestrel-" + name + "-" + std::to_string(pid);
    std::error_code ignored;
    fs::remove_all(FsPath(m_path), ignored);
    fs::create_directories(FsPath(m_path));
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    fs::remove_all(FsPath(m_path), ignored);
}

bool MakeDirUtf8(const std::string& path)
{
    std::error_code error;
    return fs::create_directory(FsPath(path), error);
}

long long FileSizeUtf8(const std::string& path)
{
    std::error_code error;
    const auto size = fs::file_size(FsPath(path), error);
    return error ? -1 : static_cast<long long>(size);
}

GbkCodePage::GbkCodePage()
{
#ifdef _WIN32
    m_active = GetACP() == 936;
#else
    m_previous = std::setlocale(LC_CTYPE, nullptr);
    m_active = std::setlocale(LC_CTYPE, "zh_CN.GBK") != nullptr;
#endif
}

GbkCodePage::~GbkCodePage()
{
#ifndef _WIN32
    std::setlocale(LC_CTYPE, m_previous.c_str());
#endif
}

RawDb::RawDb(const std::string& utf8Path)
{
    sqlite3_open(utf8Path.c_str(), &m_db);
}

RawDb::~RawDb()
{
    sqlite3_close(m_db);
}

bool RawDb::Exec(const std::string& sql)
{
    return sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::vector<std::string> RawDb::Column(const std::string& sql)
{
    std::vector<std::string> values;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
        return values;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        values.push_back(text != nullptr ? text : "NULL");
    }
    sqlite3_finalize(statement);
    return values;
}
