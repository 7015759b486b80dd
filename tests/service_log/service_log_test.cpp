// The service program's log writer and settings access, checked by reading
// the log file back byte for byte.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <regex>
#include <string>

#include "service_log.h"
#include "service_runtime.h"
#include "service_registry.h"
#include "settings_names.h"
#include "win_test_support.h"

namespace {

const char kTestLog[] = "c:\\kvltest_service.log";

// One log line: "mm/dd/yy-hh:mm:ss " then the message and CR LF.
const std::regex kStamp(R"(^\d\d/\d\d/\d\d-\d\d:\d\d:\d\d $)");

class ServiceLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::snprintf(logPath, sizeof logPath, "%s", kTestLog);
        DeleteFileA(kTestLog);
    }
    void TearDown() override
    {
        DeleteFileA(kTestLog);
        ResetLogPath();
    }
};

TEST_F(ServiceLog, LineIsStampMessageAndCrLf)
{
    LogMessage("%s installed.\n", "KVL Service");
    LogMessage("stop: %d", 0);
    std::string log = ReadWholeFile(kTestLog).value_or("");

    const std::string first = "KVL Service installed.\n\r\n";
    ASSERT_GE(log.size(), 18u + first.size());
    EXPECT_TRUE(std::regex_match(log.substr(0, 18), kStamp)) << log.substr(0, 18);
    EXPECT_EQ(first, log.substr(18, first.size()));
    std::string second = log.substr(18 + first.size());
    ASSERT_EQ(18u + 9u, second.size());
    EXPECT_TRUE(std::regex_match(second.substr(0, 18), kStamp));
    EXPECT_EQ("stop: 0\r\n", second.substr(18));
}

TEST_F(ServiceLog, FileOfExactlyTheLimitIsAppendedTo)
{
    WriteWholeFile(kTestLog, std::string(kLogWrapSize, '.'));
    LogMessage("appended");
    std::string log = ReadWholeFile(kTestLog).value_or("");
    ASSERT_EQ(static_cast<std::size_t>(kLogWrapSize) + 18 + 10, log.size());
    EXPECT_EQ("appended\r\n", log.substr(log.size() - 10));
    EXPECT_EQ('.', log[0]);
}

TEST_F(ServiceLog, FileAboveTheLimitIsOverwrittenFromItsStartWithoutTruncation)
{
    WriteWholeFile(kTestLog, std::string(kLogWrapSize + 1, '.'));
    LogMessage("wrapped");
    std::string log = ReadWholeFile(kTestLog).value_or("");
    ASSERT_EQ(static_cast<std::size_t>(kLogWrapSize) + 1, log.size());
    EXPECT_TRUE(std::regex_match(log.substr(0, 18), kStamp));
    EXPECT_EQ("wrapped\r\n", log.substr(18, 9));
    EXPECT_EQ('.', log[18 + 9]);
}

TEST_F(ServiceLog, OverlongMessageIsCutToTheLineBuffer)
{
    const std::string huge(kLogLineSize + 600, 'x');
    LogMessage("%s", huge.c_str());
    std::string log = ReadWholeFile(kTestLog).value_or("");
    ASSERT_EQ(18 + (kLogLineSize - 1) + 2, log.size());
    EXPECT_EQ(std::string(kLogLineSize - 1, 'x') + "\r\n", log.substr(18));
}

TEST_F(ServiceLog, UnopenableFileLosesTheLineQuietly)
{
    std::snprintf(logPath, sizeof logPath, "%s", "c:\\no_such_folder_kvl\\x.log");
    EXPECT_EQ(0, LogMessage("lost"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("c:\\no_such_folder_kvl\\x.log"));
}

// The log lives where a standard user may create names (c:\ when "log_dir"
// is missing): a link placed there must not make the service write, as
// SYSTEM, into a file of the user's choosing.
TEST_F(ServiceLog, NeverWritesThroughALinkedFolderOrAHardLinkedFile)
{
    CreateDirectoryA("c:\\kvltest-log-target", nullptr);
    DeleteFileA("c:\\kvltest-log-target\\kvlservice.log");
    ASSERT_TRUE(MakeHostSymlink("c:\\", "kvltest-log-target", "kvltest-log-link"));
    ASSERT_NE(0u, GetFileAttributesA("c:\\kvltest-log-link") & FILE_ATTRIBUTE_REPARSE_POINT);
    RebuildLogPath("c:\\kvltest-log-link");
    LogMessage("through the folder link");
    EXPECT_FALSE(FileExists("c:\\kvltest-log-target\\kvlservice.log"));
    MakeHostSymlink("c:\\", "", "kvltest-log-link");

    WriteWholeFile("c:\\kvltest-log-victim.txt", "victim");
    ASSERT_TRUE(CreateHardLinkA(kTestLog, "c:\\kvltest-log-victim.txt", nullptr));
    std::snprintf(logPath, sizeof logPath, "%s", kTestLog);
    LogMessage("through the hard link");
    EXPECT_EQ("victim", ReadWholeFile("c:\\kvltest-log-victim.txt").value_or(""));
    DeleteFileA("c:\\kvltest-log-victim.txt");
}

TEST(LogPath, DirectoryGivesThePathWithoutAnySetting)
{
    ResetLogPath();
    RebuildLogPath(nullptr);
    EXPECT_STREQ("c:\\kvlservice.log", logPath);
    RebuildLogPath("E:\\audit\\");
    EXPECT_STREQ("E:\\audit\\kvlservice.log", logPath);
    RebuildLogPath("");
    EXPECT_STREQ("\\kvlservice.log", logPath);
    ResetLogPath();
}

class ServiceSettings : public ServiceLog {
protected:
    void SetUp() override
    {
        ServiceLog::SetUp();
        DeleteSettingsKey();
        ASSERT_TRUE(CreateSettingsKey());
    }
    void TearDown() override
    {
        DeleteSettingsKey();
        ServiceLog::TearDown();
    }
    RegistrySnapshot registry_;
    // The log lines written so far, without their stamps.
    std::string Messages()
    {
        std::string log = ReadWholeFile(kTestLog).value_or(""), out;
        std::size_t at = 0;
        while (at < log.size()) {
            std::size_t end = log.find("\r\n", at);
            if (end == std::string::npos)
                break;
            out += log.substr(at + 18, end - at - 18) + "|";
            at = end + 2;
        }
        return out;
    }
};

TEST_F(ServiceSettings, ReadsTextsAndEmptyTexts)
{
    ASSERT_TRUE(SetSettingForTest(kValueStatus, "ativo"));
    ASSERT_TRUE(SetSettingForTest(kValueConfigVersion, ""));
    char buffer[50];
    EXPECT_EQ(6, GetRegValue(kValueStatus, buffer, sizeof buffer));
    EXPECT_STREQ("ativo", buffer);
    EXPECT_EQ(1, GetRegValue(kValueConfigVersion, buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ("", Messages());
}

TEST_F(ServiceSettings, UnreadableValuesAreLoggedWithTheirName)
{
    DWORD hours = 24;
    ASSERT_TRUE(SetRawSetting(kValueUpdateHours, REG_DWORD, &hours, sizeof hours));
    ASSERT_TRUE(SetSettingForTest(kValueFirstTime, "true-ish")); // 9 bytes for an 8-byte reader
    char buffer[100];
    EXPECT_EQ(0, GetRegValue(kValueUpdateHours, buffer, sizeof buffer));
    EXPECT_EQ(0, GetRegValue(kValueFirstTime, buffer, 8));
    EXPECT_EQ(0, GetRegValue(kValueStatusDay, buffer, sizeof buffer));
    EXPECT_EQ("GetRegValue: RegQueryValueEx failed(update_tm)|"
              "GetRegValue: RegQueryValueEx failed(first_time)|"
              "GetRegValue: RegQueryValueEx failed(ts_stt)|",
              Messages());

    DeleteSettingsKey();
    EXPECT_EQ(0, GetRegValue(kValueStatus, buffer, sizeof buffer));
    EXPECT_EQ("GetRegValue: RegQueryValueEx failed(update_tm)|"
              "GetRegValue: RegQueryValueEx failed(first_time)|"
              "GetRegValue: RegQueryValueEx failed(ts_stt)|"
              "GetRegValue: RegOpenKeyEx failed|",
              Messages());
}

TEST_F(ServiceSettings, WriteCreatesAMissingKeyAfterLoggingTheFailedOpen)
{
    DeleteSettingsKey();
    EXPECT_EQ(1, SetRegValue("24", kValueUpdateHours));
    EXPECT_EQ("RegOpenKeyEx() failed|", Messages());
    EXPECT_TRUE(SettingsKeyExists());
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(GetRawValue(HKEY_LOCAL_MACHINE, kSettingsSubkey, KEY_WOW64_32KEY, kValueUpdateHours, &type, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(std::string("24\0", 3), bytes);

    EXPECT_EQ(1, SetRegValue("", kValueConfigVersion));
    EXPECT_EQ("RegOpenKeyEx() failed|", Messages());
}

TEST_F(ServiceSettings, LogPathFollowsLogDirWithOrWithoutItsBackslash)
{
    ResetLogPath();
    EXPECT_STREQ("c:\\kvlservice.log", logPath);

    ApplyLogDirectory(); // no "log_dir": the start-up path stays
    EXPECT_STREQ("c:\\kvlservice.log", logPath);

    ASSERT_TRUE(SetSettingForTest(kValueLogDir, "D:\\logs"));
    ApplyLogDirectory();
    EXPECT_STREQ("D:\\logs\\kvlservice.log", logPath);

    ASSERT_TRUE(SetSettingForTest(kValueLogDir, "D:\\logs\\"));
    ResetLogPath();
    ApplyLogDirectory();
    EXPECT_STREQ("D:\\logs\\kvlservice.log", logPath);
    DeleteFileA("c:\\kvlservice.log");
}

TEST_F(ServiceSettings, LongLogDirIsCutTo259Characters)
{
    const std::string directory = "C:\\" + std::string(250, 'd');
    ASSERT_TRUE(SetSettingForTest(kValueLogDir, directory));
    ApplyLogDirectory();
    const std::string expected = (directory + "\\kvlservice.log").substr(0, 259);
    EXPECT_EQ(expected, std::string(logPath));

    // 260 bytes with the terminator is more than the reader takes: unchanged.
    ResetLogPath();
    ASSERT_TRUE(SetSettingForTest(kValueLogDir, std::string(260, 'd')));
    ApplyLogDirectory();
    EXPECT_STREQ("c:\\kvlservice.log", logPath);
    DeleteFileA("c:\\kvlservice.log");
}

} // namespace
