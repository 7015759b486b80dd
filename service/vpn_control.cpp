#include "vpn_control.h"

#include <algorithm>
#include <cstring>

#include "bounded_format.h"
#include "service_limits.h"
#include "service_log.h"
#include "service_names.h"
#include "service_report.h"
#include "win_handles.h"

namespace {

// The service manager and "VPNKorvService" opened with `access`. With
// `logFailures`, the step that failed is logged with the system's text.
class VpnService {
public:
    VpnService(const MonitorPlatform& platform, DWORD access, bool logFailures)
        : manager_(platform.openSCManager(nullptr, nullptr, SC_MANAGER_CONNECT)),
          service_(manager_ ? platform.openService(manager_.get(), kVpnServiceName, access) : nullptr)
    {
        if (!logFailures || service_)
            return;
        if (!manager_)
            LogMessage("OpenSCManager failed - %s\n", LastErrorText());
        else
            LogMessage("OpenService failed - %s\n", LastErrorText());
    }
    SC_HANDLE get() const { return service_.get(); }
    explicit operator bool() const { return static_cast<bool>(service_); }

private:
    ScHandle manager_;
    ScHandle service_;
};

DWORD StartPendingPause(DWORD waitHint)
{
    return std::clamp<DWORD>(waitHint / 10, kStartPendingPauseMin, kStartPendingPauseMax);
}

} // namespace

int IsVpnConnectionRunning(const MonitorPlatform& platform)
{
    VpnService service(platform, SERVICE_QUERY_STATUS, false);
    if (!service)
        return 0;
    SERVICE_STATUS status{};
    if (!platform.queryServiceStatus(service.get(), &status))
        return 0;
    return status.dwCurrentState == SERVICE_RUNNING ? 1 : 0;
}

int VPNStartService(const MonitorPlatform& platform)
{
    LogMessage("Kvl - VPNStartService");
    VpnService service(platform, SERVICE_START | SERVICE_QUERY_STATUS, true);
    if (!service)
        return 0;
    if (!platform.startService(service.get(), 0, nullptr)) {
        LogMessage("StartService failed - %s\n", LastErrorText());
        return 0;
    }
    SERVICE_STATUS status{};
    if (!platform.queryServiceStatus(service.get(), &status)) {
        LogMessage("QueryServiceStatus failed - %s\n", LastErrorText());
        return 0;
    }

    DWORD progressTick = platform.tickCount();
    DWORD checkPoint = status.dwCheckPoint;
    while (status.dwCurrentState == SERVICE_START_PENDING) {
        platform.sleep(StartPendingPause(status.dwWaitHint));
        if (!platform.queryServiceStatus(service.get(), &status))
            break;
        if (status.dwCheckPoint > checkPoint) {
            checkPoint = status.dwCheckPoint;
            progressTick = platform.tickCount();
        } else if (platform.tickCount() - progressTick > status.dwWaitHint) {
            break;
        }
    }
    return 1;
}

int VPNStopService(const MonitorPlatform& platform)
{
    LogMessage("VPNStopService");
    VpnService service(platform, SERVICE_STOP | SERVICE_QUERY_STATUS, true);
    if (!service)
        return 0;
    SERVICE_STATUS status{};
    if (!platform.controlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        LogMessage("ControlService failed - %s\n", LastErrorText());
        return 0;
    }
    const DWORD asked = platform.tickCount();
    while (status.dwCurrentState != SERVICE_STOPPED && platform.tickCount() - asked < kVpnStopWait) {
        platform.sleep(kVpnStopPollInterval);
        if (!platform.queryServiceStatus(service.get(), &status))
            break;
    }
    return 1;
}

int RunElevatedVPNStop(const MonitorPlatform& platform, const char* installDir)
{
    // The directory as the settings key holds it ends with a backslash; the
    // fallback (the program's own folder) may not.
    char directory[kMonitorInstallDirSize];
    if (!CopyWhole(directory, sizeof directory, installDir))
        return 0;
    const std::size_t length = std::strlen(directory);
    if (length > 0 && directory[length - 1] == '\\')
        directory[length - 1] = '\0';
    char program[kMonitorPathSize];
    if (!FormatWhole(program, sizeof program, kVpnStopProgramPath, directory))
        return 0;

    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = nullptr;
    info.lpVerb = kElevatedVerb;
    info.lpFile = program;
    info.lpParameters = kVpnStopParameters;
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOWNORMAL;
    if (!platform.shellExecuteEx(&info))
        return 0;
    KernelHandle process(info.hProcess);
    if (process)
        platform.waitForProcess(process.get(), kElevatedStopWait);
    return 1;
}
