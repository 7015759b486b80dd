#include "monitor_test_support.h"

#include <windows.h>

#include "scratch_installation.h"
#include "service_log.h"
#include "settings_names.h"

namespace {

constexpr char kLogFile[] = "C:\\kvlchecks\\kvlservice.log";

// Every value the loop and its checks read or write.
const char* const kLoopValues[] = {
    kValueInstallDir,  kValueConfigDir,    kValueConfigFile,    kValueUpdateHours, kValueStatus,
    kValueStatusDay,   kValueLastTime,     kValueConfigVersion, kValueConfigOnly,  kValueConfigState,
    kValueUpdateState, kValueSoftwareFile, kValueFirstTime,     kValueStatusTime,  kValueLogDir,
};

} // namespace

std::string DayStampOf(std::int64_t time)
{
    char stamp[kDayStampSize];
    FormatDayStamp(time, stamp);
    return stamp;
}

void PutFile(const std::string& path, const std::string& text) { ASSERT_TRUE(WriteWholeFile(path, text)) << path; }

void MonitorTest::SetUp()
{
    for (const char* name : kLoopValues)
        DeleteSettingForTest(name);
    ASSERT_TRUE(MakeScratchInstallation());
    std::snprintf(logPath, sizeof logPath, "%s", kLogFile);
}

void MonitorTest::TearDown()
{
    ResetLogPath();
    RemoveTree(kTestRoot);
}

void MonitorTest::ProvisionInstallation()
{
    Set(kValueInstallDir, kTestInstallDir);
    Set(kValueConfigDir, kTestConfigDir);
    Set(kValueConfigFile, kConfigName);
    Set(kValueConfigVersion, "7");
    Set(kValueConfigState, "1");
    Set(kValueUpdateHours, "24");
    PutFile(kConfigPath);
}

void MonitorTest::Start(std::int64_t now)
{
    world.now = now;
    StartMonitor(state_, platform_, kProgramDir, now);
}

void MonitorTest::Pass(std::int64_t now)
{
    world.now = now;
    RunMonitorPass(state_, platform_, now);
}

std::vector<std::string> MonitorTest::LogMessages() const
{
    std::vector<std::string> messages;
    std::string all = ReadWholeFile(kLogFile).value_or("");
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find("\r\n", start);
        if (end == std::string::npos)
            end = all.size();
        std::string line = all.substr(start, end - start);
        // "%x-%X " holds no blank before its last character.
        std::size_t stamp = line.find(' ');
        std::string message = stamp == std::string::npos ? line : line.substr(stamp + 1);
        if (message.rfind("GetRegValue: ", 0) != 0)
            messages.push_back(message);
        start = end + 2;
    }
    return messages;
}

int MonitorTest::CountLogged(const std::string& message) const
{
    int count = 0;
    for (const std::string& line : LogMessages())
        count += line == message ? 1 : 0;
    return count;
}
