// tests/store/config_db_test.cpp
#include "store/config_db.h"

#include <climits>
#include <tuple>

#include <gtest/gtest.h>

#include "tests/store/test_support.h"

namespace {

using Strings = std::vector<std::string>;
using Server = std::tuple<std::string, int, std::string, std::string, int>;
using Loaded = std::pair<bool, Server>;
const Server kUnset{"unset", -7, "unset", "unset", -7};

class ConfigDbTest : public ::testing::Test {
protected:
    ConfigDbTest()
        : m_dir(::testing::UnitTest::GetInstance()->current_test_info()->name()),
          m_path(m_dir.File("client.db"))
    {
        m_db.SetDbPath(m_path);
    }

    // LoadServer's result and its five outputs, which start out as kUnset.
    Loaded LoadServer()
    {
        Server s = kUnset;
        const bool ok = m_db.LoadServer(std::get<0>(s), std::get<1>(s), std::get<2>(s),
                                        std::get<3>(s), std::get<4>(s));
        return {ok, s};
    }

    ScratchDir m_dir;
    std::string m_path;
    CConfigDb m_db;
};

TEST_F(ConfigDbTest, NewDatabaseGetsTheSchemaAndTheDefaultServerOnce)
{
    ASSERT_TRUE(m_db.InitDatabase());
    RawDb raw(m_path);
    EXPECT_EQ(raw.Column("SELECT sql FROM sqlite_master WHERE type = 'table' ORDER BY rowid"),
              (Strings{"CREATE TABLE App (Path TEXT(512) UNIQUE)",
                       "CREATE TABLE Server (Name TEXT(100) UNIQUE, IP TEXT(512), Port INT, "
                       "Username TEXT(50), Password TEXT(50), Type INT)",
                       "CREATE TABLE Setting (SKEY TEXT(20) UNIQUE, SVALUE TEXT(100))"}));
    EXPECT_EQ(LoadServer(), Loaded(true, Server("", 1080, "", "", 5)));
    std::string value = "kept";
    EXPECT_FALSE(m_db.GetSetting("Enable", value));
    EXPECT_EQ(value, "kept");
    Strings apps{"kept"};
    EXPECT_TRUE(m_db.LoadApps(apps));
    EXPECT_EQ(apps, Strings{"kept"});

    // Every later start runs the default insert again; the saved server stays.
    ASSERT_TRUE(m_db.SaveServer({"10.0.0.1", 1081, "user", "secret", 4}));
    EXPECT_TRUE(m_db.InitDatabase());
    EXPECT_FALSE(m_db.InsertDefaultServer());
    EXPECT_EQ(raw.Column("SELECT count(*) FROM Server"), Strings{"1"});
    EXPECT_EQ(LoadServer(), Loaded(true, Server("10.0.0.1", 1081, "user", "secret", 4)));
}

TEST_F(ConfigDbTest, SettingIsInsertedThenUpdatedInPlace)
{
    ASSERT_TRUE(m_db.InitDatabase());
    EXPECT_TRUE(m_db.SetSetting("Enable", "1"));
    EXPECT_TRUE(m_db.SetSetting("ApplyArea", "All"));
    EXPECT_TRUE(m_db.SetSetting("Enable", "0"));
    std::string value;
    EXPECT_TRUE(m_db.GetSetting("Enable", value));
    EXPECT_EQ(value, "0");
    EXPECT_EQ(RawDb(m_path).Column("SELECT SKEY || '=' || SVALUE FROM Setting ORDER BY SKEY"),
              (Strings{"ApplyArea=All", "Enable=0"}));
}

TEST_F(ConfigDbTest, AppsAreKeptOncePerExactPath)
{
    ASSERT_TRUE(m_db.InitDatabase());
    EXPECT_TRUE(m_db.AddApp("C:\\Tools\\App.exe"));
    EXPECT_FALSE(m_db.AddApp("C:\\Tools\\App.exe"));
    EXPECT_TRUE(m_db.AddApp("c:\\tools\\app.exe"));
    EXPECT_TRUE(m_db.AddApp("D:\\Other.exe"));
    EXPECT_TRUE(m_db.DeleteApp("D:\\Missing.exe"));
    EXPECT_TRUE(m_db.DeleteApp("D:\\Other.exe"));
    Strings apps{"replaced"};
    ASSERT_TRUE(m_db.LoadApps(apps));
    EXPECT_EQ(apps, (Strings{"C:\\Tools\\App.exe", "c:\\tools\\app.exe"}));
}

TEST_F(ConfigDbTest, QuotesInValuesAreStoredVerbatim)
{
    ASSERT_TRUE(m_db.InitDatabase());
    const std::string obrien = "C:\\Users\\O'Brien\\app.exe";
    const std::string hostile = "x'); DROP TABLE App; --";
    EXPECT_TRUE(m_db.AddApp(obrien));
    EXPECT_TRUE(m_db.AddApp(hostile));
    EXPECT_TRUE(m_db.AddApp("''"));
    EXPECT_FALSE(m_db.AddApp(obrien));
    EXPECT_TRUE(m_db.DeleteApp("''"));
    Strings apps;
    ASSERT_TRUE(m_db.LoadApps(apps));
    EXPECT_EQ(apps, (Strings{obrien, hostile}));

    EXPECT_TRUE(m_db.SetSetting("it's", "'a' 'b'"));
    EXPECT_TRUE(m_db.SetSetting("it's", "don't"));
    std::string value;
    EXPECT_TRUE(m_db.GetSetting("it's", value));
    EXPECT_EQ(value, "don't");

    // The extreme ints also show that numbers are written in full.
    ASSERT_TRUE(m_db.SaveServer({"1.2.3.4", INT_MAX, "O'Brien", "p'w''", INT_MIN}));
    EXPECT_EQ(LoadServer(), Loaded(true, Server("1.2.3.4", INT_MAX, "O'Brien", "p'w''", INT_MIN)));
    EXPECT_EQ(RawDb(m_path).Column("SELECT count(*) FROM sqlite_master WHERE type = 'table'"),
              Strings{"3"});
}

TEST_F(ConfigDbTest, ValuesWrittenByOthersReadSafely)
{
    ASSERT_TRUE(m_db.InitDatabase());
    RawDb raw(m_path);
    ASSERT_TRUE(
        raw.Exec("UPDATE Server SET IP = NULL, Port = NULL, Username = NULL, "
                 "Password = NULL, Type = NULL;"
                 "INSERT INTO Setting VALUES ('Enable', NULL);"
                 "INSERT INTO App VALUES (NULL)"));
    EXPECT_EQ(LoadServer(), Loaded(true, Server("", 0, "", "", 0)));
    std::string value = "unset";
    EXPECT_TRUE(m_db.GetSetting("Enable", value));
    EXPECT_EQ(value, "");
    Strings apps;
    EXPECT_TRUE(m_db.LoadApps(apps));
    EXPECT_EQ(apps, Strings{""});

    // Text that is no plain integer stays text in an INT column.
    const struct {
        const char* stored;
        int read;
    } numbers[] = {{"'-42abc'", -42},
                   {"'+8.'", 8},
                   {"'abc'", 0},
                   {"'-'", 0},
                   {"1080.9", 1080},
                   {"2147483647", INT_MAX},
                   {"'99999999999999999999999x'", INT_MAX},
                   {"'-99999999999999999999999x'", INT_MIN}};
    for (const auto& number : numbers) {
        SCOPED_TRACE(number.stored);
        ASSERT_TRUE(raw.Exec(std::string("UPDATE Server SET Port = ") + number.stored));
        EXPECT_EQ(std::get<1>(LoadServer().second), number.read);
    }
}

TEST_F(ConfigDbTest, FailedReadsLeaveTheOutputsAsTheyWere)
{
    ASSERT_TRUE(m_db.InitDatabase());
    ASSERT_TRUE(RawDb(m_path).Exec("DELETE FROM Server; DROP TABLE App"));
    EXPECT_EQ(LoadServer(), Loaded(false, kUnset));
    std::string value = "kept";
    EXPECT_FALSE(m_db.GetSetting("ApplyArea", value));
    EXPECT_EQ(value, "kept");
    Strings apps{"kept"};
    EXPECT_FALSE(m_db.LoadApps(apps));
    EXPECT_EQ(apps, Strings{"kept"});
}

TEST_F(ConfigDbTest, MissingFileIsCreatedEmptyAndOperationsFail)
{
    std::string value = "kept";
    EXPECT_FALSE(m_db.GetSetting("Enable", value));
    EXPECT_EQ(FileSizeUtf8(m_path), 0);
    EXPECT_EQ(value, "kept");
    EXPECT_FALSE(m_db.SetSetting("Enable", "1"));
    EXPECT_FALSE(m_db.AddApp("C:\\a.exe"));
    EXPECT_FALSE(m_db.DeleteApp("C:\\a.exe"));
    EXPECT_FALSE(m_db.SaveServer(ServerRecord()));
    EXPECT_FALSE(m_db.InsertDefaultServer());
    EXPECT_EQ(LoadServer(), Loaded(false, kUnset));
    EXPECT_EQ(FileSizeUtf8(m_path), 0);

    // A folder that does not exist cannot hold the file; an empty path is no file.
    CConfigDb elsewhere;
    const std::string unreachable = m_dir.File("missing") + kPathSeparator + "client.db";
    elsewhere.SetDbPath(unreachable);
    EXPECT_FALSE(elsewhere.InitDatabase());
    EXPECT_EQ(FileSizeUtf8(unreachable), -1);
    elsewhere.SetDbPath("");
    EXPECT_FALSE(elsewhere.InitDatabase());
    EXPECT_FALSE(elsewhere.SetSetting("Enable", "1"));
}

TEST_F(ConfigDbTest, ChineseFolderAndValuesKeepTheirBytes)
{
    GbkCodePage gbk;
    ASSERT_TRUE(gbk.Active()) << "no GBK code page on this machine (scripts/setup provides it)";
    // "中文" as the file system names it (UTF-8) and as the program holds it (GBK).
    const std::string utf8Dir = m_dir.File("\xe4\xb8\xad\xe6\x96\x87");
    const std::string ansiDir = m_dir.File("\xd6\xd0\xce\xc4");
    ASSERT_TRUE(MakeDirUtf8(utf8Dir)) << "no Chinese file names here: under Wine the Unix locale "
                                         "(LC_ALL) must exist and be UTF-8";
    CConfigDb db;
    db.SetDbPath(ansiDir + kPathSeparator + "client.db");
    ASSERT_TRUE(db.InitDatabase());
    const std::string utf8File = utf8Dir + kPathSeparator + "client.db";
    EXPECT_GT(FileSizeUtf8(utf8File), 0);
    EXPECT_EQ(FileSizeUtf8(ansiDir), -1);

    // "C:\中文\程序乗.exe" in GBK; the trail byte of "乗" (81 5C) is a backslash.
    const std::string program = "C:\\\xd6\xd0\xce\xc4\\\xb3\xcc\xd0\xf2\x81\x5c.exe";
    EXPECT_TRUE(db.AddApp(program));
    EXPECT_TRUE(db.SetSetting("ApplyArea", "\xb3\xcc\xd0\xf2"));
    Strings apps;
    ASSERT_TRUE(db.LoadApps(apps));
    EXPECT_EQ(apps, Strings{program});
    std::string value;
    EXPECT_TRUE(db.GetSetting("ApplyArea", value));
    EXPECT_EQ(value, "\xb3\xcc\xd0\xf2");
    EXPECT_EQ(RawDb(utf8File).Column("SELECT hex(Path) FROM App"),
              Strings{"433A5CD6D0CEC45CB3CCD0F2815C2E657865"});
}

}  // namespace
