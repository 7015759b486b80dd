// The library's settings access against Wine's real registry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings_names.h"
#include "settings_store.h"
#include "win_handles.h"
#include "win_test_support.h"

namespace {

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteSettingsKey();
        ASSERT_TRUE(CreateSettingsKey());
    }
    void TearDown() override { DeleteSettingsKey(); }

    RegistrySnapshot registry_;
};

TEST_F(SettingsStore, TextRoundTripsAndLandsInThe32BitView)
{
    ASSERT_EQ(1, WriteRegValue(kSettingsSubkey, kValueUserLogin, "joao.silva"));
    char buffer[20];
    EXPECT_EQ(11, ReadRegValue(kSettingsSubkey, kValueUserLogin, buffer, sizeof buffer));
    EXPECT_STREQ("joao.silva", buffer);

    // The 64-bit view of a 64-bit prefix keeps 32-bit programs' keys under Wow6432Node.
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(GetRawValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Pelmora\\VPNKorv", KEY_WOW64_64KEY,
                            kValueUserLogin, &type, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(std::string("joao.silva\0", 11), bytes);
}

TEST_F(SettingsStore, EmptyTextIsOneNulByteAndReadsAsPresent)
{
    ASSERT_EQ(1, WriteRegValue(kSettingsSubkey, kValueStatusVersion, ""));
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(GetRawValue(HKEY_LOCAL_MACHINE, kSettingsSubkey, KEY_WOW64_32KEY, kValueStatusVersion, &type, &bytes));
    EXPECT_EQ(std::string(1, '\0'), bytes);

    char buffer[20] = "junk";
    EXPECT_EQ(1, ReadRegValue(kSettingsSubkey, kValueStatusVersion, buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
}

TEST_F(SettingsStore, DefaultValueIsTheEmptyName)
{
    ASSERT_EQ(1, WriteRegValue(kSettingsSubkey, kValueInstallDir, "C:\\VPNKorv\\"));
    char buffer[255];
    EXPECT_EQ(12, ReadRegValue(kSettingsSubkey, kValueInstallDir, buffer, sizeof buffer));
    EXPECT_STREQ("C:\\VPNKorv\\", buffer);
}

TEST_F(SettingsStore, OtherTypesReadAsAbsent)
{
    const char expand[] = "%SystemRoot%\\x";
    ASSERT_TRUE(SetRawSetting(kValueConfigDir, REG_EXPAND_SZ, expand, sizeof expand));
    DWORD number = 24;
    ASSERT_TRUE(SetRawSetting(kValueUpdateHours, REG_DWORD, &number, sizeof number));

    char buffer[255];
    EXPECT_EQ(0, ReadRegValue(kSettingsSubkey, kValueConfigDir, buffer, sizeof buffer));
    EXPECT_EQ(0, ReadRegValue(kSettingsSubkey, kValueUpdateHours, buffer, sizeof buffer));
    EXPECT_EQ(0, ReadRegValue(kSettingsSubkey, "no_such_value", buffer, sizeof buffer));
}

TEST_F(SettingsStore, ValueOneByteTooLongIsAbsentNotTruncated)
{
    // 19 characters and the terminator fill a 20-byte reader exactly.
    const std::string fits(19, 'a');
    ASSERT_TRUE(SetSettingForTest(kValueUserLogin, fits));
    char buffer[21];
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(20, ReadRegValue(kSettingsSubkey, kValueUserLogin, buffer, 20));
    EXPECT_EQ(fits, std::string(buffer));

    ASSERT_TRUE(SetSettingForTest(kValueUserLogin, std::string(20, 'a')));
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(0, ReadRegValue(kSettingsSubkey, kValueUserLogin, buffer, 20));
    EXPECT_EQ('z', buffer[20]) << "the reader wrote past its buffer";
}

TEST_F(SettingsStore, TextStoredWithoutTerminatorComesBackTerminatedOrAbsent)
{
    ASSERT_TRUE(SetRawSetting(kValueStatus, REG_SZ, "ativo", 5));
    char buffer[7];
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(6, ReadRegValue(kSettingsSubkey, kValueStatus, buffer, 6));
    EXPECT_STREQ("ativo", buffer);

    // No room left for the terminator: absent, and nothing past the buffer.
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(0, ReadRegValue(kSettingsSubkey, kValueStatus, buffer, 5));
    EXPECT_EQ('z', buffer[5]);
}

TEST_F(SettingsStore, MissingKeyFailsEveryLibraryAccessAndIsNeverCreated)
{
    DeleteSettingsKey();
    char buffer[50];
    EXPECT_EQ(0, ReadRegValue(kSettingsSubkey, kValueUserLogin, buffer, sizeof buffer));
    EXPECT_EQ(0, WriteRegValue(kSettingsSubkey, kValueStatus, "ativo"));
    EXPECT_FALSE(SettingsKeyExists());
}

TEST(IdentityKey, CreatedOnFirstWriteAndOverwrittenOnSecond)
{
    RegDeleteKeyExA(HKEY_CLASSES_ROOT, kIdentitySubkey, KEY_WOW64_32KEY, 0);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, kIdentitySubkey);

    ASSERT_EQ(1, WriteIdentityValue(kValueIdentityKey, "1234507794"));
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(GetRawValue(HKEY_CLASSES_ROOT, kIdentitySubkey, KEY_WOW64_32KEY, kValueIdentityKey, &type, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(std::string("1234507794\0", 11), bytes);

    ASSERT_EQ(1, WriteIdentityValue(kValueIdentityKey, "42"));
    ASSERT_TRUE(GetRawValue(HKEY_CLASSES_ROOT, kIdentitySubkey, KEY_WOW64_32KEY, kValueIdentityKey, &type, &bytes));
    EXPECT_EQ(std::string("42\0", 3), bytes);

    RegDeleteKeyExA(HKEY_CLASSES_ROOT, kIdentitySubkey, KEY_WOW64_32KEY, 0);
}

TEST(RunKey, DeletingTheTrayEntryReportsWhetherItWasThere)
{
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunSubkey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr,
                              key.out(), nullptr));
    RegDeleteValueA(key.get(), kValueRunTray);
    EXPECT_EQ(0, DeleteRegValue(kRunSubkey, kValueRunTray));

    const char command[] = "C:\\VPNKorv\\Nimbet.exe";
    ASSERT_EQ(
        ERROR_SUCCESS,
        RegSetValueExA(key.get(), kValueRunTray, 0, REG_SZ, reinterpret_cast<const BYTE*>(command), sizeof command));
    key.reset();
    EXPECT_EQ(1, DeleteRegValue(kRunSubkey, kValueRunTray));
    EXPECT_EQ(0, DeleteRegValue(kRunSubkey, kValueRunTray));
}

} // namespace
