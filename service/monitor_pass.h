// One pass of the monitoring loop as a function of the current time, and the
// start-up step that prepares the loop's state from the settings key.
#pragma once

#include <cstddef>
#include <cstdint>

#include "monitor_platform.h"
#include "service_limits.h"

// The loop's view of the subscriber account.
enum class AccountState {
    Active,    // "ativo", or no status word at start-up
    Blocked,   // "bloqueado", or no successful check for seven days
    Cancelled, // "cancelado" or "duplicado"
    Pending,   // any other word read at start-up
};

struct MonitorState {
    char installDir[kMonitorInstallDirSize];
    char configDir[kMonitorConfigDirSize];
    int updateHours;
    std::int64_t nextStatusCheck;
    std::int64_t nextUpdate;
    char lastStatus[kMonitorStatusWordSize];
    AccountState account;
};

// The day of `time` in local time as "%03d%02d%02d": years since 1900,
// months since January (00 to 11), day of the month. Byte-wise comparison of
// two stamps is chronological. Empty when the time cannot be converted.
void FormatDayStamp(std::int64_t time, char (&stamp)[kDayStampSize]);

// The update interval in hours from the text of "update_tm": 1 to 24 as
// given, anything else (a text that is not a number counts as 0) is 24.
int UpdateHoursFromText(const char* text);

// Reads the directories (falling back to `programDirectory`), "update_tm"
// (writing "24" when it is missing) and "stt", logs the status word, makes
// the configuration-file test, and schedules both checks at `now`.
void StartMonitor(MonitorState& state, const char* programDirectory, std::int64_t now);

// One pass at `now` (seconds since 1970): the status check and the
// installation clean-up when the status time is reached, then the scheduled
// configuration and software checks when their time is reached and the
// account is active or pending.
void RunMonitorPass(MonitorState& state, const MonitorPlatform& platform, std::int64_t now);

// Deletes the VPN configuration file named by "config_file" (then "cnf" =
// "0") and empties "v_cnf", so the next configuration check fetches it anew.
void RemoveVpnConfiguration(const MonitorState& state);
