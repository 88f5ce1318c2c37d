// tests/common/module_dir_test.cpp
#include "common/module_dir.h"

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

namespace {

bool IsGbkLeadByte(unsigned char byte)
{
    return byte >= 0x81 && byte <= 0xfe;
}

TEST(ModuleDirFromPathTest, CutsAfterTheLastSeparator)
{
    EXPECT_EQ(ModuleDirFromPath("C:\\Program Files\\Kestrel\\Kestrel.exe", '\\'),
              "C:\\Program Files\\Kestrel\\");
    EXPECT_EQ(ModuleDirFromPath("/opt/kestrel/bin/kestrel", '/'), "/opt/kestrel/bin/");
    EXPECT_EQ(ModuleDirFromPath("C:\\", '\\'), "C:\\");
    EXPECT_EQ(ModuleDirFromPath("Kestrel.exe", '\\'), "");
    EXPECT_EQ(ModuleDirFromPath("", '\\'), "");
    EXPECT_EQ(ModuleDirFromPath(nullptr, '\\'), "");

    // "C:\乗\Kestrel.exe": 81 5C is one character, its trail byte no separator...
    EXPECT_EQ(ModuleDirFromPath("C:\\\x81\x5c\\Kestrel.exe", '\\', IsGbkLeadByte),
              "C:\\\x81\x5c\\");
    EXPECT_EQ(ModuleDirFromPath("C:\\Tools\\\x81\x5c.exe", '\\', IsGbkLeadByte), "C:\\Tools\\");
    // ...which only the lead-byte check tells apart.
    EXPECT_EQ(ModuleDirFromPath("C:\\Tools\\\x81\x5c.exe", '\\'), "C:\\Tools\\\x81\\");
    // A lead byte cut off at the end does not hide the terminator.
    EXPECT_EQ(ModuleDirFromPath("C:\\Tools\\\x81", '\\', IsGbkLeadByte), "C:\\Tools\\");
}

class ModulePathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(InitModuleDir(nullptr));
        m_dir = GetModuleDir();
        ASSERT_FALSE(m_dir.empty());
        ASSERT_LT(m_dir.size(), 200u);
    }
    std::string m_dir;
};

TEST_F(ModulePathTest, DirectoryIsTheRunningProgramsOwn)
{
    EXPECT_EQ(m_dir.back(), kPathSeparator);
    EXPECT_EQ(GetClientDbPath(), m_dir + "client.db");
#ifdef _WIN32
    char path[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
    EXPECT_EQ(std::string(path).rfind(m_dir, 0), 0u) << path;
    // A handle that names no module gives no file name: the directory stays.
    EXPECT_FALSE(InitModuleDir(reinterpret_cast<HMODULE>(static_cast<INT_PTR>(1))));
    EXPECT_EQ(GetModuleDir(), m_dir);
#endif
}

TEST_F(ModulePathTest, PathsNeverPassTheEndOfTheBuffer)
{
    const std::string name = "client.db";
    const std::size_t fits = m_dir.size() + name.size() + 1;
    std::vector<char> buffer(fits + 1, 'x');

    ASSERT_TRUE(MakeModulePath(name.c_str(), fits, buffer.data()));
    EXPECT_EQ(std::string(buffer.data()), m_dir + name);
    EXPECT_EQ(buffer[fits], 'x');

    std::fill(buffer.begin(), buffer.end(), 'x');
    EXPECT_FALSE(MakeModulePath(name.c_str(), fits - 1, buffer.data()));
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[fits - 1], 'x');
    EXPECT_EQ(buffer[fits], 'x');

    std::fill(buffer.begin(), buffer.end(), 'x');
    EXPECT_FALSE(MakeModulePath(name.c_str(), 0, buffer.data()));
    EXPECT_FALSE(MakeModulePath(nullptr, fits, buffer.data()));
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_FALSE(MakeModulePath(name.c_str(), fits, nullptr));

    ASSERT_TRUE(MakeModulePath("", fits, buffer.data()));
    EXPECT_EQ(std::string(buffer.data()), m_dir);
}

}  // namespace
