// tests/e2e/damaged_database_test.cpp
// client.db as it may be found: damaged, held by another process, or read in
// a tight loop while the configuration program writes. Both programs must
// come up with their defaults, lose nothing and leave a file they cannot use
// as it was.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "client/resource.h"
#include "framework/handles.h"
#include "store/config_db.h"
#include "tests/e2e/kestrel_case.h"
#include "tests/e2e/text.h"
#include "tests/e2e/tray_icon.h"
#include "tests/e2e/window_driver.h"

namespace {

using e2e::WaitUntil;

// CreateFileA fails with INVALID_HANDLE_VALUE; the owner then holds none.
UniqueKernelHandle OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition)
{
    HANDLE file = CreateFileA(path.c_str(), access, share, nullptr, disposition, 0, nullptr);
    return UniqueKernelHandle(file != INVALID_HANDLE_VALUE ? file : nullptr);
}

bool ReadBytes(const std::string& path, std::string& bytes)
{
    UniqueKernelHandle file = OpenFile(
        path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (!file)
        return false;
    bytes.assign(GetFileSize(file.Get(), nullptr), '\0');
    DWORD read = 0;
    return bytes.empty() ||
           (ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) &&
            read == bytes.size());
}

bool WriteBytes(const std::string& path, const std::string& bytes)
{
    UniqueKernelHandle file = OpenFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    DWORD written = 0;
    return file &&
           WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size();
}

// What lies at a path: its kind, attributes, time of last write and bytes.
struct Snapshot {
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    FILETIME written = {};
    std::string bytes;

    bool operator==(const Snapshot& other) const
    {
        return attributes == other.attributes && CompareFileTime(&written, &other.written) == 0 &&
               bytes == other.bytes;
    }
};

Snapshot Take(const std::string& path)
{
    Snapshot shot;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return shot;
    shot.attributes = data.dwFileAttributes;
    shot.written = data.ftLastWriteTime;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && !ReadBytes(path, shot.bytes))
        shot.bytes = "(unreadable)";
    return shot;
}

std::string Describe(const Snapshot& shot)
{
    return "attributes " + std::to_string(shot.attributes) + ", " +
           std::to_string(shot.bytes.size()) + " bytes, written " +
           std::to_string(shot.written.dwLowDateTime);
}

std::vector<std::string> Query(const std::string& db, const std::string& sql)
{
    std::vector<std::string> rows;
    if (!QueryDatabase(db, sql, rows))
        rows = {"(unreadable)"};
    return rows;
}

// Another process's exclusive lock with a write pending under it, held for
// holdMs from the constructor; the write is committed when the lock goes.
class HeldDatabase {
public:
    HeldDatabase(const std::string& path, DWORD holdMs)
    {
        sqlite3* raw = nullptr;
        sqlite3_open(e2e::Utf8FromAnsi(path).c_str(), &raw);
        m_db.reset(raw);
        m_held = sqlite3_exec(raw, "BEGIN EXCLUSIVE; INSERT INTO App VALUES ('held')", nullptr,
                              nullptr, nullptr) == SQLITE_OK;
        if (m_held)
            m_holder = std::thread([this, holdMs] {
                Sleep(holdMs);
                m_committed =
                    sqlite3_exec(m_db.get(), "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
            });
    }
    ~HeldDatabase()
    {
        if (m_holder.joinable())
            m_holder.join();
    }
    bool Held() const { return m_held; }
    bool Committed()
    {
        if (m_holder.joinable())
            m_holder.join();
        return m_committed;
    }

private:
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> m_db{nullptr, &sqlite3_close};
    bool m_held = false;
    bool m_committed = false;
    std::thread m_holder;
};

class DatabaseFaultsTest : public KestrelCase {
protected:
    HWND Page(int id) const { return GetDlgItem(GetDlgItem(m_window, IDC_PAGE_TAB), id); }
    HWND Item(int page, int id) const { return GetDlgItem(Page(page), id); }
    bool Checked(int page, int id) const
    {
        return SendMessageA(Item(page, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }

    // Shows the page and waits until it is the one shown.
    void Show(WORD command, int page)
    {
        ASSERT_TRUE(e2e::PostCommand(m_window, command));
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(Page(page)) != FALSE; }));
    }

    // A box of the configuration program other than its main window.
    HWND OpenBox() const
    {
        return e2e::FindTopLevel(m_kestrel->Id(), [&](HWND window) {
            char className[16] = {};
            GetClassNameA(window, className, sizeof className);
            return window != m_window && IsWindowVisible(window) &&
                   std::string(className) == "#32770";
        });
    }

    e2e::Process* m_kestrel = nullptr;
    HWND m_window = nullptr;
};

TEST_F(DatabaseFaultsTest, DamagedOrHeldDatabaseOpensWithDefaultsAndKeepsTheFileAsItWas)
{
    const struct {
        const char* name;
        std::function<bool(const std::string& db)> make;
    } forms[] = {
        {"text", [](const std::string& db) { return WriteBytes(db, "not a database\r\n"); }},
        {"truncated",
         [](const std::string& db) {
             CConfigDb store;
             store.SetDbPath(db);
             bool made = store.InitDatabase();
             for (int i = 0; i < 40; ++i)
                 made = made && store.AddApp("C:\\" + std::string(300, 'a') + std::to_string(i));
             std::string bytes;
             return made && ReadBytes(db, bytes) && bytes.size() > 4 * 4096 &&
                    WriteBytes(db, bytes.substr(0, bytes.size() / 2));
         }},
        {"folder", [](const std::string& db) { return CreateDirectoryA(db.c_str(), nullptr); }},
        {"read-only",
         [](const std::string& db) {
             CConfigDb store;
             store.SetDbPath(db);
             return store.InitDatabase() && SetFileAttributesA(db.c_str(), FILE_ATTRIBUTE_READONLY);
         }},
        {"held", [](const std::string& db) {
             CConfigDb store;
             store.SetDbPath(db);
             return store.InitDatabase();
         }}};
    for (const auto& form : forms) {
        SCOPED_TRACE(form.name);
        const std::string folder = MakeProgramFolder(form.name, Tray::Real);
        const std::string db = folder + "\\client.db";
        ASSERT_TRUE(form.make(db));
        const Snapshot before = Take(db);
        const bool held = std::string(form.name) == "held";
        // Wine run by root lets a write into a read-only file: nothing the
        // programs do can then be told from what Windows would do.
        const bool writable = (before.attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
                              OpenFile(db, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
        if (writable)
            std::printf("%s: the system writes into read-only files, its bytes are not compared\n",
                        form.name);
        std::unique_ptr<HeldDatabase> holder;
        if (held) {
            holder = std::make_unique<HeldDatabase>(db, 3000);
            ASSERT_TRUE(holder->Held());
        }

        m_kestrel = &Start(folder);
        m_window = WaitForMainWindow(*m_kestrel);
        ASSERT_NE(m_window, nullptr);
        EXPECT_TRUE(Checked(IDD_STATUS_PAGE, IDC_ENABLE_OFF));
        // Where the server row could not be read the page keeps port 0, and
        // the close below stops at the port's range message and saves nothing.
        // A read-only database reads as any other; the held one may have been
        // let go before the page read it.
        const std::string port = e2e::WindowText(Item(IDD_SERVER_PAGE, IDC_SERVER_PORT));
        if (held)
            EXPECT_TRUE(port == "0" || port == "1080") << port;
        else if (std::string(form.name) == "read-only")
            EXPECT_EQ(port, "1080");
        else
            EXPECT_EQ(port, "0");
        EXPECT_TRUE(Checked(IDD_SERVER_PAGE, IDC_SOCKS5));
        EXPECT_EQ(e2e::WindowText(Item(IDD_SERVER_PAGE, IDC_USER_NAME)), "");
        EXPECT_EQ(
            SendMessageA(Item(IDD_PROGRAM_LIST_PAGE, IDC_PROGRAM_LIST), LVM_GETITEMCOUNT, 0, 0), 0);
        ASSERT_TRUE(WaitUntil([] { return e2e::IconWindow() != nullptr; }));
        EXPECT_TRUE(WaitUntil([] { return e2e::ShownLamps() == e2e::Lamps::Yellow; }, 2500));
        EXPECT_FALSE(WaitUntil([] { return e2e::ShownLamps() != e2e::Lamps::Yellow; }, 1200))
            << "the tray program does not show Off";
        SaveShot(m_window, std::string("damaged-database-") + form.name);

        // A write to what cannot take it fails quietly; so does the one at close.
        Show(ID_VIEW_STATUS, IDD_STATUS_PAGE);
        const DWORD counter = ChangeCounter();
        ASSERT_TRUE(PostMessageA(Item(IDD_STATUS_PAGE, IDC_ENABLE_ON), BM_CLICK, 0, 0));
        EXPECT_TRUE(WaitUntil([&] { return ChangeCounter() != counter; }));
        EXPECT_TRUE(e2e::SendMessageWaiting(m_window, WM_NULL, 0, 0));
        EXPECT_EQ(OpenBox(), nullptr);
        ASSERT_TRUE(PostMessageA(m_window, WM_SYSCOMMAND, SC_CLOSE, 0));
        if (port == "0") {
            HWND rangeMessage = nullptr;
            ASSERT_TRUE(WaitUntil([&] { return (rangeMessage = OpenBox()) != nullptr; }));
            ASSERT_TRUE(PostMessageA(rangeMessage, WM_COMMAND, IDOK, 0));
        }
        ASSERT_TRUE(m_kestrel->WaitForExit(e2e::kPatienceMs));
        EXPECT_EQ(m_kestrel->ExitCode(), static_cast<DWORD>(IDCANCEL));
        e2e::Process& exit = Start(folder, "-exit", m_caseFolder, "KestrelTray.exe");
        ASSERT_TRUE(exit.WaitForExit(e2e::kPatienceMs));
        EXPECT_TRUE(WaitUntil([] { return e2e::IconWindow() == nullptr; }));

        if (held) {
            // Nothing of the other process's write is lost, and the click
            // made after its lock went is stored.
            EXPECT_TRUE(holder->Committed());
            EXPECT_EQ(Query(db, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
            EXPECT_EQ(Query(db, "SELECT Path FROM App"), std::vector<std::string>{"held"});
            EXPECT_EQ(Query(db, "SELECT SVALUE FROM Setting WHERE SKEY = 'Enable'"),
                      std::vector<std::string>{"1"});
        } else if (!writable) {
            const Snapshot after = Take(db);
            EXPECT_TRUE(after == before) << Describe(before) << " became " << Describe(after);
        }
        SetFileAttributesA(db.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST_F(DatabaseFaultsTest, EmptyFileIsTakenAsANewDatabase)
{
    // SQLite leaves an empty file where it creates a database: the tray
    // program reading before the first start of the configuration program
    // makes one. Nothing is in it to lose.
    const std::string folder = MakeProgramFolder("empty");
    const std::string db = folder + "\\client.db";
    ASSERT_TRUE(WriteBytes(db, ""));
    m_kestrel = &Start(folder);
    m_window = WaitForMainWindow(*m_kestrel);
    ASSERT_NE(m_window, nullptr);
    EXPECT_TRUE(Checked(IDD_STATUS_PAGE, IDC_ENABLE_OFF));
    EXPECT_EQ(e2e::WindowText(Item(IDD_SERVER_PAGE, IDC_SERVER_PORT)), "1080");
    std::vector<std::string> tables;
    std::vector<std::string> servers;
    ASSERT_TRUE(ReadDatabase(db, tables, servers));
    EXPECT_EQ(tables, (std::vector<std::string>{"App", "Server", "Setting"}));
    EXPECT_EQ(servers, (std::vector<std::string>{"SingleServer||1080|||5"}));
}

TEST_F(DatabaseFaultsTest, WritesUnderAHammeringReaderAreAllStoredWithoutAnError)
{
    const std::string folder = MakeProgramFolder("program");
    const std::string db = folder + "\\client.db";
    m_kestrel = &Start(folder);
    m_window = WaitForMainWindow(*m_kestrel);
    ASSERT_NE(m_window, nullptr);

    // Reads as the tray program and the proxying component do, without
    // waiting: the number of programs never goes back.
    std::atomic<bool> stop{false};
    std::atomic<long> reads{0}, busy{0}, wentBack{0};
    std::thread reader([&] {
        std::size_t most = 0;
        while (!stop) {
            std::vector<std::string> paths;
            if (!QueryDatabase(db, "SELECT Path FROM App", paths)) {
                ++busy;
                continue;
            }
            ++reads;
            wentBack += paths.size() < most ? 1 : 0;
            most = std::max(most, paths.size());
        }
    });

    const ULONGLONG start = GetTickCount64();
    std::vector<std::string> added;
    int writes = 0;
    for (int round = 1; GetTickCount64() - start < 60000 && !HasFailure(); ++round) {
        const std::string trace = "round " + std::to_string(round);
        Show(ID_VIEW_STATUS, IDD_STATUS_PAGE);
        const char* enable = round % 2 ? "1" : "0";
        ASSERT_TRUE(PostMessageA(Item(IDD_STATUS_PAGE, round % 2 ? IDC_ENABLE_ON : IDC_ENABLE_OFF),
                                 BM_CLICK, 0, 0));
        EXPECT_TRUE(WaitUntil([&] {
            return Query(db, "SELECT SVALUE FROM Setting WHERE SKEY = 'Enable'") ==
                   std::vector<std::string>{enable};
        })) << trace;

        const std::string port = std::to_string(2000 + round);
        SendMessageA(Item(IDD_SERVER_PAGE, IDC_SERVER_PORT), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(port.c_str()));
        ASSERT_TRUE(PostMessageA(
            Page(IDD_SERVER_PAGE), WM_COMMAND, MAKEWPARAM(IDC_APPLY_SERVER, BN_CLICKED),
            reinterpret_cast<LPARAM>(Item(IDD_SERVER_PAGE, IDC_APPLY_SERVER))));
        EXPECT_TRUE(WaitUntil([&] {
            return Query(db, "SELECT Port FROM Server") == std::vector<std::string>{port};
        })) << trace;

        Show(ID_VIEW_PROGRAMS, IDD_PROGRAM_LIST_PAGE);
        const std::string program = folder + "\\p" + std::to_string(round) + ".exe";
        ASSERT_TRUE(WriteBytes(program, "MZ"));
        ASSERT_TRUE(PostMessageA(Item(IDD_PROGRAM_LIST_PAGE, IDC_ADD_PROGRAM), BM_CLICK, 0, 0));
        ASSERT_TRUE(e2e::ChooseInFileDialog(m_kestrel->Id(), m_window, program)) << trace;
        added.push_back(program);
        EXPECT_TRUE(WaitUntil([&] {
            return Query(db, "SELECT count(*) FROM App WHERE Path = '" + program + "'") ==
                   std::vector<std::string>{"1"};
        })) << trace;
        writes += 3;
        EXPECT_EQ(OpenBox(), nullptr) << trace;
    }
    stop = true;
    reader.join();
    std::printf("%d writes in %llu ms against %ld reads (%ld found the database busy)\n", writes,
                GetTickCount64() - start, reads.load(), busy.load());
    EXPECT_EQ(Query(db, "SELECT Path FROM App ORDER BY rowid"), added);
    EXPECT_EQ(wentBack, 0);
    EXPECT_GT(reads, writes);
    EXPECT_TRUE(m_kestrel->Running());
}

}  // namespace
