#include "monitor_pass.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "bounded_format.h"
#include "file_names.h"
#include "monitor_thread.h"
#include "scheduled_checks.h"
#include "service_log.h"
#include "service_registry.h"
#include "settings_names.h"
#include "vpn_control.h"
#include "win_handles.h"

namespace {

constexpr char kWordActive[] = "ativo";
constexpr char kWordBlocked[] = "bloqueado";
constexpr char kWordCancelled[] = "cancelado";
constexpr char kWordDuplicated[] = "duplicado";
// Left by the library's installation of a downloaded package; compared
// exactly, unlike the account status words.
constexpr char kUpdateInstalled[] = "atualizado";
constexpr char kUpdateStateAfterCleanUp[] = "1.0.28";
constexpr char kFirstTimeWord[] = "true";

bool SameWord(const char* a, const char* b) { return _stricmp(a, b) == 0; }

bool RunsScheduledChecks(AccountState account)
{
    return account == AccountState::Active || account == AccountState::Pending;
}

// Reads `name` into `buffer`; false when it is missing or empty.
bool ReadNonEmpty(const char* name, char* buffer, DWORD size)
{
    return GetRegValue(name, buffer, size) != 0 && buffer[0] != '\0';
}

// Reads `name` into `buffer`, or copies `fallback` there when it is missing.
void ReadDirectory(const char* name, char* buffer, DWORD size, const char* fallback)
{
    if (GetRegValue(name, buffer, size) == 0)
        CopyWhole(buffer, size, fallback);
}

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// True when "config_file" names a file that is missing from the
// configuration directory; false when there is no name or the file is there.
bool ConfigFileMissing(const MonitorState& state)
{
    char name[kMonitorConfigFileSize];
    if (!ReadNonEmpty(kValueConfigFile, name, sizeof name))
        return false;
    char path[kMonitorPathSize];
    if (!FormatWhole(path, sizeof path, "%s\\%s", state.configDir, name))
        return false;
    return !FileExists(path);
}

// Empties "v_cnf" and asks for the configuration alone at once.
void RefetchConfiguration(const MonitorPlatform& platform)
{
    SetRegValue("", kValueConfigVersion);
    SetRegValue("1", kValueConfigOnly);
    CheckConfig(platform);
}

AccountState StateOfWord(const char* word)
{
    if (SameWord(word, kWordBlocked))
        return AccountState::Blocked;
    if (SameWord(word, kWordCancelled) || SameWord(word, kWordDuplicated))
        return AccountState::Cancelled;
    if (SameWord(word, kWordActive))
        return AccountState::Active;
    return AccountState::Pending;
}

// Ends the VPN connection through the elevated stop program, when it runs.
// A failed run is logged and the pass goes on: the configuration is removed
// all the same, and the next checks still run.
void StopThroughElevatedRun(const MonitorPlatform& platform)
{
    if (IsVpnConnectionRunning(platform) && !RunElevatedVPNStop(platform))
        LogMessage("%s %s stop failed", kMonitorTag, kVpnStopProgram);
}

// A successful check brought `word`, which differs from the last one.
void ActOnNewWord(MonitorState& state, const MonitorPlatform& platform, const char* word)
{
    if (SameWord(word, kWordActive)) {
        if (state.account == AccountState::Blocked)
            RefetchConfiguration(platform);
        state.account = AccountState::Active;
    } else if (SameWord(word, kWordBlocked)) {
        state.account = AccountState::Blocked;
        if (IsVpnConnectionRunning(platform) && !VPNStopService(platform))
            LogMessage("%s %s stop failed", kMonitorTag, kVpnStopProgram);
        RemoveVpnConfiguration(state);
    } else if (SameWord(word, kWordCancelled) || SameWord(word, kWordDuplicated)) {
        state.account = AccountState::Cancelled;
        StopThroughElevatedRun(platform);
        RemoveVpnConfiguration(state);
    }
}

void AfterSuccessfulCheck(MonitorState& state, const MonitorPlatform& platform, std::int64_t now, const char* word)
{
    char today[kDayStampSize];
    FormatDayStamp(now, today);
    SetRegValue(today, kValueStatusDay);

    if (SameWord(word, state.lastStatus)) {
        if (RunsScheduledChecks(state.account) && now < state.nextUpdate && ConfigFileMissing(state))
            RefetchConfiguration(platform);
        return;
    }
    ActOnNewWord(state, platform, word);
    CopyWhole(state.lastStatus, sizeof state.lastStatus, word);
}

// No successful check: once the last successful one is seven days old, the
// connection is blocked, at every failed check.
void AfterFailedCheck(MonitorState& state, const MonitorPlatform& platform, std::int64_t now)
{
    char today[kDayStampSize];
    char weekAgo[kDayStampSize];
    FormatDayStamp(now, today);
    FormatDayStamp(now - kStatusGraceSeconds, weekAgo);

    char lastSuccess[kMonitorStatusDaySize];
    if (GetRegValue(kValueStatusDay, lastSuccess, sizeof lastSuccess) == 0) {
        SetRegValue(today, kValueStatusDay);
        CopyWhole(lastSuccess, sizeof lastSuccess, today);
    }
    if (std::strcmp(lastSuccess, weekAgo) > 0)
        return;
    state.account = AccountState::Blocked;
    LogMessage("%s 7d blocked", kMonitorTag);
    StopThroughElevatedRun(platform);
    RemoveVpnConfiguration(state);
}

void CheckAccountStatus(MonitorState& state, const MonitorPlatform& platform, std::int64_t now)
{
    // Written as a signed 32-bit number, as the library's readers expect it.
    char lastTime[kLastTimeSize];
    if (FormatWhole(lastTime, sizeof lastTime, "%ld", static_cast<long>(static_cast<std::int32_t>(now))))
        SetRegValue(lastTime, kValueLastTime);
    char word[kMonitorStatusWordSize];
    if (platform.ferolin(kCheckStatusSwitch, kSwitchLength) == 0 && GetRegValue(kValueStatus, word, sizeof word) != 0)
        AfterSuccessfulCheck(state, platform, now, word);
    else
        AfterFailedCheck(state, platform, now);
}

// After the library installed a downloaded package: the package file goes,
// and the state says so. Only a plain file name inside the installation
// directory is ever deleted, whatever the server named.
void CleanUpInstallation(const MonitorState& state)
{
    char updateState[kMonitorUpdateStateSize];
    char package[kMonitorSoftwareFileSize];
    if (GetRegValue(kValueUpdateState, updateState, sizeof updateState) == 0 ||
        std::strcmp(updateState, kUpdateInstalled) != 0)
        return;
    if (!ReadNonEmpty(kValueSoftwareFile, package, sizeof package) || !IsPlainFileName(package))
        return;
    char path[kMonitorPathSize];
    if (!FormatWhole(path, sizeof path, "%s\\%s", state.installDir, package))
        return;
    {
        FileHandle file(
            CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return;
    }
    DeleteFileA(path);
    SetRegValue("", kValueSoftwareFile);
    SetRegValue(kUpdateStateAfterCleanUp, kValueUpdateState);
}

void RunScheduledUpdate(MonitorState& state, const MonitorPlatform& platform, std::int64_t now)
{
    char firstTime[kMonitorFirstTimeSize];
    if (GetRegValue(kValueFirstTime, firstTime, sizeof firstTime) != 0 && std::strcmp(firstTime, kFirstTimeWord) == 0)
        LogMessage("Atualizando a aplicacao");
    else
        LogMessage("Atualizacao 24h");

    const std::int64_t interval = state.updateHours * kSecondsPerHour;
    state.nextUpdate += interval;
    if (state.nextUpdate <= now) {
        // Suspended, or the clock jumped: the schedule starts again from now.
        LogMessage("nextUpdate <%d> now <%d>", static_cast<int>(state.nextUpdate), static_cast<int>(now));
        state.nextUpdate = now + interval;
    }
    SetRegValue("1", kValueConfigOnly);
    CheckConfig(platform);
    UpdateSoft(platform);
}

} // namespace

void FormatDayStamp(std::int64_t time, char (&stamp)[kDayStampSize])
{
    std::time_t value = static_cast<std::time_t>(time);
    const std::tm* local = std::localtime(&value);
    if (local == nullptr ||
        !FormatWhole(stamp, sizeof stamp, "%03d%02d%02d", local->tm_year, local->tm_mon, local->tm_mday))
        stamp[0] = '\0';
}

int UpdateHoursFromText(const char* text)
{
    const long hours = std::strtol(text, nullptr, 10);
    if (hours < kMinUpdateHours || hours > kMaxUpdateHours)
        return kDefaultUpdateHours;
    return static_cast<int>(hours);
}

void StartMonitor(MonitorState& state, const char* programDirectory, std::int64_t now)
{
    ReadDirectory(kValueInstallDir, state.installDir, sizeof state.installDir, programDirectory);
    ReadDirectory(kValueConfigDir, state.configDir, sizeof state.configDir, programDirectory);

    char hours[kMonitorUpdateHoursSize];
    if (GetRegValue(kValueUpdateHours, hours, sizeof hours) == 0) {
        CopyWhole(hours, sizeof hours, "24");
        SetRegValue(hours, kValueUpdateHours);
    }
    state.updateHours = UpdateHoursFromText(hours);

    state.nextStatusCheck = now;
    state.nextUpdate = now;

    state.account = AccountState::Active;
    if (GetRegValue(kValueStatus, state.lastStatus, sizeof state.lastStatus) == 0) {
        state.lastStatus[0] = '\0';
        return;
    }
    LogMessage("%s status[%s]", kMonitorTag, state.lastStatus);
    state.account = StateOfWord(state.lastStatus);
    if (state.account == AccountState::Pending)
        LogMessage("%s last[pendente]", kMonitorTag);
    if (RunsScheduledChecks(state.account) && ConfigFileMissing(state)) {
        SetRegValue("", kValueConfigVersion);
        LogMessage("%s config force update", kMonitorTag);
    }
}

void RunMonitorPass(MonitorState& state, const MonitorPlatform& platform, std::int64_t now)
{
    if (now >= state.nextStatusCheck) {
        state.nextStatusCheck = now + kStatusCheckInterval;
        CheckAccountStatus(state, platform, now);
        CleanUpInstallation(state);
    }
    if (RunsScheduledChecks(state.account) && now >= state.nextUpdate)
        RunScheduledUpdate(state, platform, now);
}

void RemoveVpnConfiguration(const MonitorState& state)
{
    char name[kMonitorConfigFileSize];
    char path[kMonitorPathSize];
    if (ReadNonEmpty(kValueConfigFile, name, sizeof name) &&
        FormatWhole(path, sizeof path, "%s\\%s", state.configDir, name)) {
        DeleteFileA(path);
        SetRegValue("0", kValueConfigState);
    }
    SetRegValue("", kValueConfigVersion);
}
