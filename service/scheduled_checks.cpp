#include "scheduled_checks.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "service_limits.h"
#include "service_log.h"
#include "service_registry.h"
#include "settings_names.h"
#include "vpn_control.h"

namespace {

// After a library call that may have brought a new configuration: restarts
// the VPN connection service when "v_cnf" is no longer `oldVersion`.
void RestartVpnIfConfigChanged(const MonitorPlatform& platform, const char* oldVersion)
{
    if (IsSevenDayOff(platform))
        return;
    char newVersion[kMonitorConfigVersionSize];
    if (GetRegValue(kValueConfigVersion, newVersion, sizeof newVersion) == 0)
        return;
    if (std::strcmp(newVersion, oldVersion) == 0)
        return;
    if (IsVpnConnectionRunning(platform)) {
        VPNStopService(platform);
        platform.sleep(kVpnRestartPause);
    }
    VPNStartService(platform);
}

} // namespace

int StatusTimeAgeDays(std::int64_t now, long statusTime)
{
    // The current UTC time read back as if it were local standard time: the
    // time minus the zone's standard offset.
    std::time_t current = static_cast<std::time_t>(now);
    std::time_t shifted = current;
    if (std::tm* utc = std::gmtime(&current)) {
        utc->tm_isdst = 0;
        shifted = std::mktime(utc);
    }
    const std::uint32_t difference = static_cast<std::uint32_t>(shifted) - static_cast<std::uint32_t>(statusTime);
    return static_cast<std::int32_t>(difference) / static_cast<std::int32_t>(kSecondsPerDay);
}

int IsSevenDayOff(const MonitorPlatform& platform)
{
    const std::int64_t now = platform.clock();
    char statusTime[kMonitorStatusTimeSize];
    if (GetRegValue(kValueStatusTime, statusTime, sizeof statusTime) == 0)
        return 0;
    const int days = StatusTimeAgeDays(now, std::strtol(statusTime, nullptr, 10));
    LogMessage("IsSevenDayOff: %d", days);
    return days > kStatusTimeDayLimit ? 1 : 0;
}

void CheckConfig(const MonitorPlatform& platform)
{
    LogMessage("CheckConfig");
    char installDir[kMonitorInstallDirSize];
    char oldVersion[kMonitorConfigVersionSize];
    char status[kMonitorStatusWordSize];
    if (GetRegValue(kValueInstallDir, installDir, sizeof installDir) == 0 ||
        GetRegValue(kValueConfigVersion, oldVersion, sizeof oldVersion) == 0 ||
        GetRegValue(kValueStatus, status, sizeof status) == 0) {
        LogMessage("CheckConfig: GetRegValue failed");
        return;
    }
    if (platform.ferolin(kCheckConfigSwitch, kSwitchLength) != 0)
        return;
    RestartVpnIfConfigChanged(platform, oldVersion);
}

void UpdateSoft(const MonitorPlatform& platform)
{
    LogMessage("UpdateSoft");
    SetRegValue("0", kValueConfigOnly);
    CheckConfig(platform);
    platform.sleep(kUpdateSoftPause);
    char oldVersion[kMonitorConfigVersionSize];
    if (GetRegValue(kValueConfigVersion, oldVersion, sizeof oldVersion) == 0)
        return;
    if (platform.ferolin(kCheckUpdateSwitch, kSwitchLength) != 0)
        return;
    RestartVpnIfConfigChanged(platform, oldVersion);
}
