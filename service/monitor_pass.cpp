#include "monitor_pass.h"

#include <cstdio>
#include <cstring>

#include "bounded_format.h"
#include "config_paths.h"
#include "file_names.h"
#include "monitor_thread.h"
#include "scheduled_checks.h"
#include "service_log.h"
#include "service_registry.h"
#include "service_report.h"
#include "settings_names.h"
#include "vpn_control.h"
#include "win_handles.h"

namespace {

// Left by the library's installation of a downloaded package; compared
// exactly, unlike the account status words.
constexpr char kUpdateInstalled[] = "atualizado";
constexpr char kUpdateStateAfterCleanUp[] = "1.0.28";
constexpr char kFirstTimeWord[] = "true";

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

// The VPN configuration file: "config_path" (the file the library last
// downloaded, subdirectory included), or "config_file" directly in the
// configuration directory where the library has recorded no path yet. False
// when neither names a file below the configuration directory.
bool VpnConfigurationPath(const MonitorState& state, char (&path)[kMonitorPathSize])
{
    char name[kMonitorConfigFileSize];
    if (!ReadNonEmpty(kValueConfigPath, name, sizeof name) && !ReadNonEmpty(kValueConfigFile, name, sizeof name))
        return false;
    return IsContainedSubDir(name) && FormatWhole(path, sizeof path, "%s\\%s", state.configDir, name);
}

// True when the VPN configuration file is named but missing; false when
// there is no name or the file is there.
bool ConfigFileMissing(const MonitorState& state)
{
    char path[kMonitorPathSize];
    return VpnConfigurationPath(state, path) && !FileExists(path);
}

// Empties "v_cnf" and asks for the configuration alone at once.
void RefetchConfiguration(const MonitorPlatform& platform)
{
    SetRegValue("", kValueConfigVersion);
    SetRegValue("1", kValueConfigOnly);
    CheckConfig(platform);
}

void LogIfStopFailed(bool stopped)
{
    if (!stopped)
        LogMessage("%s %s stop failed", kMonitorTag, kVpnStopProgram);
}

// After the library installed a downloaded package: the package file goes,
// and the state says so, but only once it is gone. The installer may still
// read it after the library stopped waiting for it: cleared values would
// leave it behind for ever, so they stay and the next status check tries
// again. Only a package name inside the installation
// directory is ever deleted (never the service's own programs), whatever the
// server named.
void CleanUpInstallation(const MonitorState& state)
{
    char updateState[kMonitorUpdateStateSize];
    char package[kMonitorSoftwareFileSize];
    if (GetRegValue(kValueUpdateState, updateState, sizeof updateState) == 0 ||
        std::strcmp(updateState, kUpdateInstalled) != 0)
        return;
    if (!ReadNonEmpty(kValueSoftwareFile, package, sizeof package) || !IsServerPackageName(package))
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
    if (!DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        LogMessage("%s package not removed: %s - %s", kMonitorTag, path, LastErrorText());
        return;
    }
    SetRegValue("", kValueSoftwareFile);
    SetRegValue(kUpdateStateAfterCleanUp, kValueUpdateState);
}

// The pass's effects on this machine: the settings key, the files, the log,
// and `platform` for everything else.
class WindowsEffects final : public MonitorEffects {
public:
    WindowsEffects(const MonitorState& state, const MonitorPlatform& platform) : state_(state), platform_(platform) { }

    void RecordCheckTime(std::int64_t now) override
    {
        // Written as a signed 32-bit number, as the library's readers expect it.
        char lastTime[kLastTimeSize];
        if (FormatWhole(lastTime, sizeof lastTime, "%ld", static_cast<long>(static_cast<std::int32_t>(now))))
            SetRegValue(lastTime, kValueLastTime);
    }
    bool CheckStatus(char (&word)[kMonitorStatusWordSize]) override
    {
        return platform_.ferolin(kCheckStatusSwitch, kSwitchLength) == 0 &&
            GetRegValue(kValueStatus, word, sizeof word) != 0;
    }
    bool ReadStatusDay(char (&day)[kMonitorStatusDaySize]) override
    {
        return GetRegValue(kValueStatusDay, day, sizeof day) != 0;
    }
    void WriteStatusDay(const char* day) override { SetRegValue(day, kValueStatusDay); }
    bool ConfigFileMissing() override { return ::ConfigFileMissing(state_); }
    void RefetchConfiguration() override { ::RefetchConfiguration(platform_); }
    void StopVpnService() override
    {
        if (IsVpnConnectionRunning(platform_))
            LogIfStopFailed(VPNStopService(platform_));
    }
    // A failed run is logged and the pass goes on: the configuration is
    // removed all the same, and the next checks still run. The connection
    // must end all the same too, so its service is stopped instead.
    void StopVpnElevated() override
    {
        if (!IsVpnConnectionRunning(platform_) || RunElevatedVPNStop(platform_, state_.installDir))
            return;
        LogIfStopFailed(false);
        VPNStopService(platform_);
    }
    bool RemoveConfiguration() override { return RemoveVpnConfiguration(state_) != 0; }
    void LogSevenDayBlock() override { LogMessage("%s 7d blocked", kMonitorTag); }
    void CleanUpInstallation() override { ::CleanUpInstallation(state_); }
    void AnnounceUpdate() override
    {
        char firstTime[kMonitorFirstTimeSize];
        if (GetRegValue(kValueFirstTime, firstTime, sizeof firstTime) != 0 &&
            std::strcmp(firstTime, kFirstTimeWord) == 0)
            LogMessage("Atualizando a aplicacao");
        else
            LogMessage("Atualizacao 24h");
    }
    void LogScheduleRestart(std::int64_t nextUpdate, std::int64_t now) override
    {
        LogMessage("nextUpdate <%d> now <%d>", static_cast<int>(nextUpdate), static_cast<int>(now));
    }
    void RunUpdateChecks() override
    {
        SetRegValue("1", kValueConfigOnly);
        CheckConfig(platform_);
        UpdateSoft(platform_);
    }

private:
    const MonitorState& state_;
    const MonitorPlatform& platform_;
};

} // namespace

void StartMonitor(MonitorState& state, const MonitorPlatform& platform, const char* programDirectory, std::int64_t now)
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
    // A block cut short (the process ended after the library had stored the
    // word, before the stop and the removal): the first check would find the
    // same word and act on nothing, and the connection and its configuration
    // would outlast the block.
    char path[kMonitorPathSize];
    if (!RunsScheduledChecks(state.account) && VpnConfigurationPath(state, path) && FileExists(path)) {
        WindowsEffects effects(state, platform);
        EnforceBlock(state, effects);
    }
}

void RunMonitorPass(MonitorState& state, const MonitorPlatform& platform, std::int64_t now)
{
    WindowsEffects effects(state, platform);
    RunMonitorPass(state, effects, now);
}

int RemoveVpnConfiguration(const MonitorState& state)
{
    int removed = 1;
    char path[kMonitorPathSize];
    if (VpnConfigurationPath(state, path)) {
        if (DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND) {
            SetRegValue("0", kValueConfigState);
        } else {
            // Held open without delete sharing, or refused: "cnf" keeps
            // saying the configuration is there, and the deletion is also
            // left to the next restart in case the holder never lets go.
            LogMessage("%s config not removed: %s - %s", kMonitorTag, path, LastErrorText());
            if (!state.configRemovalPending && !MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
                LogMessage("%s config removal at restart not scheduled - %s", kMonitorTag, LastErrorText());
            removed = 0;
        }
    }
    SetRegValue("", kValueConfigVersion);
    return removed;
}
