// tests/store/lock_test.cpp
// The store while a second process holds a lock on client.db.
#include "store/config_db.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "common/module_dir.h"
#include "tests/store/test_support.h"

#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace {

using Strings = std::vector<std::string>;

#ifdef _WIN32
const char kLockerName[] = "kestrel_db_locker.exe";
#else
const char kLockerName[] = "kestrel_db_locker";
#endif

// The locker program, started beside this test. It always ends by itself;
// the destructor waits for it so that it never outlives its test.
class Locker {
public:
    ~Locker() { Wait(); }

    bool Start(const Strings& arguments)
    {
        char program[260] = {};
        if (!InitModuleDir(nullptr) || !MakeModulePath(kLockerName, sizeof program, program))
            return false;
#ifdef _WIN32
        std::string commandLine = std::string("\"") + program + "\"";
        for (const std::string& argument : arguments)
            commandLine += " \"" + argument + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!CreateProcessA(program, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info))
            return false;
        CloseHandle(info.hThread);
        m_process.reset(info.hProcess);
        return true;
#else
        Strings strings{program};
        strings.insert(strings.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& s : strings)
            argv.push_back(&s[0]);
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, program, nullptr, nullptr, argv.data(), environ) == 0)
            return true;
        m_pid = -1;
        return false;
#endif
    }

    // Exit code, or -1 when none is known.
    int Wait()
    {
#ifdef _WIN32
        DWORD code = 0;
        const bool exited = m_process &&
                            WaitForSingleObject(m_process.get(), INFINITE) == WAIT_OBJECT_0 &&
                            GetExitCodeProcess(m_process.get(), &code);
        m_process.reset();
        return exited ? static_cast<int>(code) : -1;
#else
        int status = 0;
        const bool exited = m_pid > 0 && waitpid(m_pid, &status, 0) == m_pid && WIFEXITED(status);
        m_pid = -1;
        return exited ? WEXITSTATUS(status) : -1;
#endif
    }

private:
#ifdef _WIN32
    struct HandleCloser {
        void operator()(HANDLE handle) const { CloseHandle(handle); }
    };
    std::unique_ptr<void, HandleCloser> m_process;
#else
    pid_t m_pid = -1;
#endif
};

class LockTest : public ::testing::Test {
protected:
    LockTest()
        : m_dir(::testing::UnitTest::GetInstance()->current_test_info()->name()),
          m_path(m_dir.File("client.db")),
          m_ready(m_dir.File("ready")),
          m_release(m_dir.File("release"))
    {
        m_db.SetDbPath(m_path);
    }

    // Returns once the locker holds its lock.
    void HoldLock(const char* mode, int holdMs)
    {
        ASSERT_TRUE(m_locker.Start({m_path, m_ready, mode, std::to_string(holdMs), m_release}));
        // A bound for a locker that never gets going, not a measurement.
        for (int i = 0; i < 6000 && FileSizeUtf8(m_ready) < 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_GE(FileSizeUtf8(m_ready), 0) << "locker failed";
    }

    void Release()
    {
        std::FILE* file = std::fopen(m_release.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
    }

    ScratchDir m_dir;
    std::string m_path, m_ready, m_release;
    CConfigDb m_db;
    Locker m_locker;
};

TEST_F(LockTest, WritesWaitOutAnotherProcesssReadLock)
{
    ASSERT_TRUE(m_db.InitDatabase());
    HoldLock("shared", 800);
    EXPECT_TRUE(m_db.SetSetting("Enable", "1"));
    EXPECT_TRUE(m_db.AddApp("C:\\App.exe"));
    EXPECT_EQ(m_locker.Wait(), 0);

    std::string value;
    EXPECT_TRUE(m_db.GetSetting("Enable", value));
    EXPECT_EQ(value, "1");
    Strings apps;
    EXPECT_TRUE(m_db.LoadApps(apps));
    EXPECT_EQ(apps, Strings{"C:\\App.exe"});
}

TEST_F(LockTest, ReadsFailAndWritesGiveUpUnderAnExclusiveLock)
{
    ASSERT_TRUE(m_db.InitDatabase());
    ASSERT_TRUE(m_db.SetSetting("Enable", "0"));
    // Held until released, so every call below surely meets the lock.
    HoldLock("exclusive", 120000);

    std::string value = "kept";
    EXPECT_FALSE(m_db.GetSetting("Enable", value));
    EXPECT_EQ(value, "kept");
    Strings apps{"kept"};
    EXPECT_FALSE(m_db.LoadApps(apps));
    EXPECT_EQ(apps, Strings{"kept"});
    // Waits its bounded time, then fails instead of hanging.
    EXPECT_FALSE(m_db.SetSetting("Enable", "1"));

    Release();
    EXPECT_EQ(m_locker.Wait(), 0);
    EXPECT_TRUE(m_db.GetSetting("Enable", value));
    EXPECT_EQ(value, "0");
}

}  // namespace
