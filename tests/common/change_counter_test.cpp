// tests/common/change_counter_test.cpp
// The change counter in the registry of the Wine prefix, as the proxying
// component sees it.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "common/config_notify.h"
#include "common/registry_key.h"

namespace {

const char kScratchKey[] = "Software\\KestrelTest\\RegistryKey";

void DeleteCounterKey()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kChangeCounterKey);
}

// The stored value as raw type and bytes, independent of the code under test.
struct StoredValue {
    bool present = false;
    DWORD type = 0;
    DWORD size = 0;
    std::uint32_t number = 0;
};

StoredValue ReadCounter()
{
    StoredValue stored;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kChangeCounterKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return stored;
    BYTE data[16] = {};
    stored.size = sizeof data;
    stored.present = RegQueryValueExA(key, kChangeCounterValue, nullptr, &stored.type, data,
                                      &stored.size) == ERROR_SUCCESS;
    RegCloseKey(key);
    std::memcpy(&stored.number, data, sizeof stored.number);
    return stored;
}

void StoreCounter(DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kChangeCounterKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExA(key, kChangeCounterValue, 0, type, static_cast<const BYTE*>(data), size),
        ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST(ChangeCounter, CreatedAtOneThenCountsUpAndWraps)
{
    DeleteCounterKey();
    NotifyConfigChanged();
    StoredValue first = ReadCounter();
    ASSERT_TRUE(first.present) << "the key and value are created when missing";
    EXPECT_EQ(first.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(first.size, 4u);
    EXPECT_EQ(first.number, 1u);

    NotifyConfigChanged();
    NotifyConfigChanged();
    EXPECT_EQ(ReadCounter().number, 3u);

    const DWORD highest = 0xFFFFFFFFu;
    StoreCounter(REG_DWORD, &highest, sizeof highest);
    NotifyConfigChanged();
    StoredValue wrapped = ReadCounter();
    EXPECT_EQ(wrapped.number, 0u);
    EXPECT_EQ(wrapped.type, static_cast<DWORD>(REG_DWORD));
}

TEST(ChangeCounter, AValueThatIsNoFourByteNumberCountsAsZero)
{
    const char text[] = "41";
    const std::uint16_t shortNumber = 0x0707;
    const std::uint64_t longNumber = 0x0000000500000005ull;
    struct {
        DWORD type;
        const void* data;
        DWORD size;
    } cases[] = {
        {REG_SZ, text, sizeof text},
        {REG_BINARY, &shortNumber, sizeof shortNumber},
        {REG_QWORD, &longNumber, sizeof longNumber},
    };
    for (const auto& c : cases) {
        StoreCounter(c.type, c.data, c.size);
        NotifyConfigChanged();
        StoredValue after = ReadCounter();
        EXPECT_EQ(after.type, static_cast<DWORD>(REG_DWORD)) << "type " << c.type;
        EXPECT_EQ(after.size, 4u) << "type " << c.type;
        EXPECT_EQ(after.number, 1u) << "type " << c.type;
    }
}

TEST(RegistryKey, RefusesWorkWithoutAnOpenKeyOrName)
{
    CRegistryKey key;
    std::uint32_t value = 17;
    EXPECT_EQ(key.Close(), 0);
    EXPECT_FALSE(key.ReadDword("v", value));
    EXPECT_FALSE(key.WriteDword("v", 1));
    EXPECT_EQ(value, 17u);

    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, kScratchKey, false));
    EXPECT_FALSE(key.WriteDword(nullptr, 1));
    EXPECT_FALSE(key.ReadDword(nullptr, value));
    EXPECT_FALSE(key.ReadDword("missing", value));
    EXPECT_EQ(value, 17u);
    EXPECT_TRUE(key.WriteDword("v", 0x12345678u));
    EXPECT_EQ(key.Close(), ERROR_SUCCESS);
    EXPECT_FALSE(key.IsOpen());

    // Read-only: the value reads back, writing is refused.
    CRegistryKey reader;
    ASSERT_TRUE(reader.Open(HKEY_CURRENT_USER, kScratchKey, true));
    EXPECT_TRUE(reader.ReadDword("v", value));
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_FALSE(reader.WriteDword("v", 1));
    RegDeleteKeyA(HKEY_CURRENT_USER, kScratchKey);
}

}  // namespace
