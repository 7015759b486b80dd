// The monitoring loop's decisions: what a pass does at a given time with the
// answer of the status check, apart from how it does it. Everything the pass
// touches (the library, the settings key, the VPN service, the files, the
// log) goes through `MonitorEffects`; the service binds it to Windows, and
// the fuzzer to a recorder that checks every decision. Builds on any host.
#pragma once

#include <cstddef>
#include <cstdint>

#include "monitor_limits.h"

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
    // The VPN configuration could not be removed (and was not missing): it is
    // tried again at every status check while the account stays blocked or
    // cancelled.
    bool configRemovalPending;
};

// What one pass may do, in the order a pass does it.
class MonitorEffects {
public:
    // Writes "last_time".
    virtual void RecordCheckTime(std::int64_t now) = 0;
    // Runs the library's status check; true with the word it stored, false
    // when the check failed or the word cannot be read into `word`.
    virtual bool CheckStatus(char (&word)[kMonitorStatusWordSize]) = 0;
    // "ts_stt": false when it is missing (or too long for `day`).
    virtual bool ReadStatusDay(char (&day)[kMonitorStatusDaySize]) = 0;
    virtual void WriteStatusDay(const char* day) = 0;
    // True when "config_file" names a file missing from the configuration
    // directory.
    virtual bool ConfigFileMissing() = 0;
    // Empties "v_cnf" and runs the configuration check for it alone.
    virtual void RefetchConfiguration() = 0;
    // Stops the VPN connection when it runs: through the service manager,
    // or through the elevated stop program. A failure is logged, not fatal.
    virtual void StopVpnService() = 0;
    virtual void StopVpnElevated() = 0;
    // Removes the VPN configuration; false when its file is still there.
    virtual bool RemoveConfiguration() = 0;
    virtual void LogSevenDayBlock() = 0;
    // Removes the package that the library installed, when it did.
    virtual void CleanUpInstallation() = 0;
    // Logs which kind of update this is.
    virtual void AnnounceUpdate() = 0;
    virtual void LogScheduleRestart(std::int64_t nextUpdate, std::int64_t now) = 0;
    // The configuration check, then the software-update check.
    virtual void RunUpdateChecks() = 0;

protected:
    ~MonitorEffects() = default;
};

// Status words compared as the loop compares them: ASCII, without regard
// to case.
bool SameStatusWord(const char* a, const char* b);

// The state a word read at start-up gives.
AccountState StateOfWord(const char* word);

// Scheduled configuration and software checks run in these states only.
bool RunsScheduledChecks(AccountState account);

// The day of `time` in local time as "%03d%02d%02d": years since 1900,
// months since January (00 to 11), day of the month. Byte-wise comparison of
// two stamps is chronological. Empty when the time cannot be converted.
void FormatDayStamp(std::int64_t time, char (&stamp)[kDayStampSize]);

// The update interval in hours from the text of "update_tm": 1 to 24 as
// given, anything else (a text that is not a number counts as 0) is 24.
int UpdateHoursFromText(const char* text);

// What a blocked or cancelled account asks for: the VPN connection ended
// (a blocked one through the service manager, a cancelled one through the
// elevated stop program) and the configuration removed. Also run at start-up
// when such an account still has its configuration: the process ended
// between the library's storing the word and this. True, for callers that
// report a removal was tried.
bool EnforceBlock(MonitorState& state, MonitorEffects& effects);

// One pass at `now` (seconds since 1970): the status check (and, while the
// account is blocked or cancelled, another try at a configuration that could
// not be removed) and the installation clean-up when the status time is reached, then the scheduled
// configuration and software checks when their time is reached and the
// account is active or pending. A schedule that lies further ahead than its
// own interval (the clock was set back) starts again from `now` first.
void RunMonitorPass(MonitorState& state, MonitorEffects& effects, std::int64_t now);
