#include "service_control.h"

#include <cstdio>

#include "bounded_format.h"
#include "service_log.h"
#include "service_report.h"
#include "win_handles.h"

int stopPollLimit = kStopPollLimit;

namespace {

constexpr int kFailed = 1;
constexpr int kServiceNotOpened = 2;
constexpr int kRemoveNotStopped = 10;
constexpr int kRemoveNotDeleted = 11;

constexpr DWORD kStopAccess = SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE;

// Converts `bytes` bytes of ANSI text (embedded NULs included) to UTF-16.
bool ToWide(const char* text, int bytes, wchar_t* buffer, int capacity)
{
    return MultiByteToWideChar(CP_ACP, 0, text, bytes, buffer, capacity) > 0;
}

// Reads the program's full path and forms the service's command line from
// it. A path longer than the limit is refused rather than cut: a cut path
// would register some other program to run as LocalSystem.
bool BuildServiceCommandLine(char* buffer, std::size_t size)
{
    char path[kModulePathSize];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0)
        return false;
    if (length >= sizeof path) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (!FormatServiceCommandLine(path, buffer, size)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    return true;
}

// Description, recovery settings, and the flag that lets them act on a stop
// with an error code as well as on a crash (a start-up failure ends the
// service that way). 0 when all were applied, otherwise the error code of
// the last one that failed.
int ApplyServiceSettings(SC_HANDLE service)
{
    int result = 0;
    SERVICE_DESCRIPTIONA description{const_cast<char*>(kServiceDescription)};
    if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description))
        result = static_cast<int>(GetLastError());

    // The wide calls: Wine's narrow one for failure actions stores nothing.
    FailureActionsRecord record;
    FillFailureActions(record);
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &record.actions))
        result = static_cast<int>(GetLastError());
    SERVICE_FAILURE_ACTIONS_FLAG onErrorStops{TRUE};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onErrorStops))
        result = static_cast<int>(GetLastError());
    return result;
}

// After an accepted stop control: polls once a second while the service
// shows stop-pending, at most `stopPollLimit` times, and returns the last
// state seen. With `showProgress`, prints a dot for each poll still pending.
DWORD WaitWhileStopPending(SC_HANDLE service, DWORD lastState, bool showProgress)
{
    for (int polls = 0; polls < stopPollLimit; ++polls) {
        Sleep(kStopPollInterval);
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status))
            break;
        lastState = status.dwCurrentState;
        if (lastState != SERVICE_STOP_PENDING)
            break;
        if (showProgress) {
            std::fputs(".", stdout);
            std::fflush(stdout);
        }
    }
    return lastState;
}

} // namespace

void FillFailureActions(FailureActionsRecord& record)
{
    record.steps[0] = {SC_ACTION_RESTART, kFailureActionDelay};
    record.steps[1] = {SC_ACTION_RESTART, kFailureActionDelay};
    record.steps[2] = {SC_ACTION_NONE, kFailureActionDelay};
    record.actions.dwResetPeriod = kFailureResetPeriod;
    record.actions.lpRebootMsg = nullptr;
    record.actions.lpCommand = nullptr;
    record.actions.cActions = kFailureActionCount;
    record.actions.lpsaActions = record.steps;
}

bool FormatServiceCommandLine(const char* programPath, char* buffer, std::size_t size)
{
    return FormatWhole(buffer, size, "\"%s\" %s", programPath, kServiceRunSwitch) != 0;
}

int InstallKVLService()
{
    char commandLine[kServiceCommandLineSize];
    wchar_t wideCommandLine[kServiceCommandLineSize];
    wchar_t wideName[sizeof kServiceName];
    wchar_t wideDisplayName[sizeof kServiceDisplayName];
    wchar_t wideDependencies[sizeof kServiceDependencies];
    // The wide call stores the dependency list exactly as given; Wine's
    // narrow one reads past the list's first entry.
    if (!BuildServiceCommandLine(commandLine, sizeof commandLine) ||
        !ToWide(commandLine, -1, wideCommandLine, kServiceCommandLineSize) ||
        !ToWide(kServiceName, -1, wideName, sizeof kServiceName) ||
        !ToWide(kServiceDisplayName, -1, wideDisplayName, sizeof kServiceDisplayName) ||
        !ToWide(kServiceDependencies, sizeof kServiceDependencies, wideDependencies, sizeof kServiceDependencies)) {
        ReportMonitorEvent("Unable to install - %s", LastErrorText());
        return kFailed;
    }

    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        ReportMonitorEvent("OpenSCManager failed - %s", LastErrorText());
        return kFailed;
    }

    ScHandle service(CreateServiceW(manager.get(), wideName, wideDisplayName, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                    wideCommandLine, nullptr, nullptr, wideDependencies, nullptr, nullptr));
    if (!service) {
        ReportMonitorEvent("CreateService failed - %s", LastErrorText());
        return kFailed;
    }

    int result = ApplyServiceSettings(service.get());
    LogMessage("%s installed.\n", kServiceDisplayName);
    return result;
}

int ConfigureKVLService()
{
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        LogMessage("OpenSCManager failed - %s\n", LastErrorText());
        return kFailed;
    }
    ScHandle service(OpenServiceA(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!service) {
        LogMessage("OpenService failed - %s\n", LastErrorText());
        return kFailed;
    }
    int result = ApplyServiceSettings(service.get());
    LogMessage("%s configured.\n", kServiceDisplayName);
    return result;
}

int StartKVLService()
{
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        LogMessage("OpenSCManager failed - %s\n", LastErrorText());
        return kFailed;
    }
    ScHandle service(OpenServiceA(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!service) {
        LogMessage("OpenService failed - %s\n", LastErrorText());
        return kFailed;
    }
    if (!StartServiceA(service.get(), 0, nullptr)) {
        LogMessage("StartService failed - %s\n", LastErrorText());
        return kFailed;
    }
    return 0;
}

int StopKVLService()
{
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        LogMessage("OpenSCManager failed - %s\n", LastErrorText());
        return kFailed;
    }
    ScHandle service(OpenServiceA(manager.get(), kServiceName, kStopAccess));
    if (!service) {
        LogMessage("OpenService failed - %s\n", LastErrorText());
        return kServiceNotOpened;
    }
    SERVICE_STATUS status{};
    // A refused control (the service is not running) leaves nothing to stop.
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
        return 0;
    if (WaitWhileStopPending(service.get(), status.dwCurrentState, false) != SERVICE_STOPPED) {
        LogMessage("\n%s failed to stop.\n", kServiceDisplayName);
        return kFailed;
    }
    return 0;
}

int RemoveKVLService()
{
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        ReportMonitorEvent("OpenSCManager failed - %s", LastErrorText());
        return kFailed;
    }
    ScHandle service(OpenServiceA(manager.get(), kServiceName, kStopAccess));
    if (!service) {
        ReportMonitorEvent("OpenService failed - %s", LastErrorText());
        return kServiceNotOpened;
    }

    int result = 0;
    SERVICE_STATUS status{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status) &&
        WaitWhileStopPending(service.get(), status.dwCurrentState, true) != SERVICE_STOPPED) {
        ReportMonitorEvent("%s failed to stop.", kServiceDisplayName);
        result = kRemoveNotStopped;
    }

    if (DeleteService(service.get())) {
        LogMessage("%s removed.\n", kServiceDisplayName);
    } else {
        ReportMonitorEvent("DeleteService failed - %s", LastErrorText());
        result = kRemoveNotDeleted;
    }
    return result;
}
