// Control of the VPN connection service and the two scheduled checks, with
// the fake service manager, library and clock: the start-pending wait, the
// wait for the stopped state, the age of the status time, and when a new
// configuration restarts the service.
#include <gtest/gtest.h>

#include <windows.h>

#include <ctime>

#include "monitor_test_support.h"
#include "scheduled_checks.h"
#include "settings_names.h"
#include "vpn_control.h"

namespace {

using Events = std::vector<std::string>;

TEST_F(MonitorTest, StartPendingWaitFollowsTheWaitHintAndTheCheckPoint)
{
    const struct {
        const char* name;
        std::vector<SERVICE_STATUS> afterStart; // the start's own query first
        std::vector<DWORD> pauses;
    } rows[] = {
        // No hint: one pause of the minimum, one query, and the wait is over.
        {"hint 0", {PendingStatus(1, 0)}, {1000}},
        // A growing check point keeps the wait going, a tenth of the hint a time.
        {"hint 30000, growing",
         {PendingStatus(1, 30000), PendingStatus(2, 30000), PendingStatus(3, 30000), PendingStatus(4, 30000),
          SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0, 0, 0}},
         std::vector<DWORD>(4, 3000)},
        // Without growth it ends at the first query more than 30 s after the last.
        {"hint 30000, fixed", {PendingStatus(1, 30000)}, std::vector<DWORD>(11, 3000)},
        // Pauses stay within 1 to 5 s.
        {"hint 80000, fixed", {PendingStatus(1, 80000)}, std::vector<DWORD>(17, 5000)},
        {"hint 5000, fixed", {PendingStatus(1, 5000)}, std::vector<DWORD>(6, 1000)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        platform_ = FakePlatform();
        world.afterStart = row.afterStart;
        EXPECT_EQ(VPNStartService(platform_), 1);
        EXPECT_EQ(world.sleeps, row.pauses);
        EXPECT_EQ(world.statusQueries, static_cast<int>(row.pauses.size()) + 1);
    }
    EXPECT_EQ(CountLogged("Kvl - VPNStartService"), 5);
}

TEST_F(MonitorTest, StopWaitsForTheStoppedStateAtMostTwentySeconds)
{
    // Stopping for a second: polled until stopped.
    world.vpnState = SERVICE_RUNNING;
    world.stopPendingQueries = 4;
    EXPECT_EQ(VPNStopService(platform_), 1);
    EXPECT_EQ(world.vpnState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(world.sleeps, std::vector<DWORD>(5, 250));

    // Never stopping: given up after 20 s, the control was accepted all the same.
    platform_ = FakePlatform();
    world.vpnState = SERVICE_RUNNING;
    world.stopPendingQueries = -1;
    EXPECT_EQ(VPNStopService(platform_), 1);
    EXPECT_EQ(world.tick, 20000u);
    EXPECT_EQ(CountLogged("VPNStopService"), 2);

    // Not running: the control is refused.
    platform_ = FakePlatform();
    EXPECT_EQ(VPNStopService(platform_), 0);
    ASSERT_FALSE(LogMessages().empty());
    EXPECT_EQ(LogMessages().back().rfind("ControlService failed - ", 0), 0u);
}

TEST_F(MonitorTest, AbsentServiceIsNeverRunningAndCannotStart)
{
    // The fake and the real service manager alike (no stand-in is installed
    // in this prefix outside the stand-in cases).
    for (const MonitorPlatform* platform : {static_cast<const MonitorPlatform*>(&platform_), &kWindowsPlatform}) {
        world.vpnInstalled = false;
        DeleteFileA("C:\\kvlchecks\\kvlservice.log");
        EXPECT_EQ(IsVpnConnectionRunning(*platform), 0);
        EXPECT_EQ(VPNStartService(*platform), 0);
        Events messages = LogMessages();
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0], "Kvl - VPNStartService");
        // The system's text of ERROR_SERVICE_DOES_NOT_EXIST, its code, and the
        // line break the message keeps.
        EXPECT_EQ(messages[1].rfind("OpenService failed - ", 0), 0u) << messages[1];
        EXPECT_NE(messages[1].find("(0x424)\n"), std::string::npos) << messages[1];
    }
}

// "tm_status" relative to the time the age test compares it with: the
// current time shifted by the local standard-time offset.
std::string StatusTimeDaysAgo(std::int64_t now, double days)
{
    std::time_t current = static_cast<std::time_t>(now);
    std::tm utc = *std::gmtime(&current);
    utc.tm_isdst = 0;
    return std::to_string(static_cast<long long>(std::mktime(&utc) - static_cast<std::int64_t>(days * kDay)));
}

TEST_F(MonitorTest, StatusTimeOlderThanSevenWholeDaysHoldsBackRestarts)
{
    const struct {
        const char* name;
        std::optional<double> daysAgo; // nullopt: missing
        int result;
        const char* logged; // nullptr: nothing
    } rows[] = {
        {"seven days", 7.0, 0, "IsSevenDayOff: 7"},
        {"almost eight days", 7.99, 0, "IsSevenDayOff: 7"},
        {"eight days", 8.0, 1, "IsSevenDayOff: 8"},
        {"missing", std::nullopt, 0, nullptr},
        // In the future: negative days, truncated toward zero.
        {"a day and a half ahead", -1.5, 0, "IsSevenDayOff: -1"},
    };
    world.now = kStart;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteFileA("C:\\kvlchecks\\kvlservice.log");
        if (row.daysAgo)
            Set(kValueStatusTime, StatusTimeDaysAgo(kStart, *row.daysAgo));
        else
            Unset(kValueStatusTime);
        EXPECT_EQ(IsSevenDayOff(platform_), row.result);
        EXPECT_EQ(LogMessages(), row.logged ? Events{row.logged} : Events{});
    }
}

TEST_F(MonitorTest, ConfigurationCheckRestartsTheServiceWhenTheVersionChanged)
{
    const struct {
        const char* name;
        bool versionThere;
        FakeAnswer library;
        bool vpnRunning;
        double statusDaysAgo;
        Events events;
    } rows[] = {
        {"no version", false, {0, "8"}, true, 0, {}},
        {"library failed", true, {4, "8"}, true, 0, {"library -checkconfig 12"}},
        {"unchanged", true, {0, "7"}, true, 0, {"library -checkconfig 12"}},
        {"changed, running",
         true,
         {0, "8"},
         true,
         0,
         {"library -checkconfig 12", "service stop", "sleep 1000", "service start"}},
        {"changed, stopped", true, {0, "8"}, false, 0, {"library -checkconfig 12", "service start"}},
        {"changed, status eight days old", true, {0, "8"}, true, 8, {"library -checkconfig 12"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        platform_ = FakePlatform();
        world.now = kStart;
        DeleteFileA("C:\\kvlchecks\\kvlservice.log");
        ProvisionInstallation();
        Set(kValueStatus, "ativo");
        Set(kValueStatusTime, StatusTimeDaysAgo(kStart, row.statusDaysAgo));
        if (!row.versionThere)
            Unset(kValueConfigVersion);
        world.checkConfig = row.library;
        world.vpnState = row.vpnRunning ? SERVICE_RUNNING : SERVICE_STOPPED;

        CheckConfig(platform_);

        EXPECT_EQ(world.events, row.events);
        EXPECT_EQ(CountLogged("CheckConfig: GetRegValue failed"), row.versionThere ? 0 : 1);
    }
}

TEST_F(MonitorTest, UpdateCheckAsksForTheConfigurationFirstThenTheSoftware)
{
    ProvisionInstallation();
    Set(kValueStatus, "ativo");
    Set(kValueConfigOnly, "1");
    world.vpnState = SERVICE_RUNNING;
    // The software check is the one that brings a new configuration here.
    world.checkUpdate = {0, "9"};

    UpdateSoft(platform_);

    EXPECT_EQ(Setting(kValueConfigOnly), "0");
    EXPECT_EQ(world.events,
              (Events{"library -checkconfig 12", "sleep 2000", "library -checkupdate 12", "service stop", "sleep 1000",
                      "service start"}));
    EXPECT_EQ(LogMessages(), (Events{"UpdateSoft", "CheckConfig", "VPNStopService", "Kvl - VPNStartService"}));
}

} // namespace
