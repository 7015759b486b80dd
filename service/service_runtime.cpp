#include "service_runtime.h"

#include <sddl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "service_log.h"
#include "service_registry.h"
#include "service_report.h"
#include "settings_names.h"
#include "win_handles.h"

bool debugMode = false;
char programDirectory[kModulePathSize];
HANDLE exitEvent = nullptr;
SetServiceStatusCall setServiceStatusCall = SetServiceStatus;

namespace {

constexpr int kReportFailed = 4;
constexpr int kThreadNotStarted = 5;

SERVICE_STATUS_HANDLE statusHandle = nullptr;
// The control handler (main thread) and the service thread both report; the
// counter and the last state are the only status data they share.
std::atomic<DWORD> checkPoint{1};
std::atomic<DWORD> currentState{SERVICE_STOPPED};
HANDLE monitorThread = nullptr;
// What ServiceMain starts as the monitoring thread: the dispatcher calls it
// without a context, so RunServiceDispatcher leaves the routine here first.
LPTHREAD_START_ROUTINE dispatchedMonitor = nullptr;
// The stop control arrives on the main thread while the service thread may be
// making or closing the exit event.
std::mutex exitEventLock;

// Who may open the named exit event: SYSTEM and the Administrators only, no
// entries inherited.
constexpr char kExitEventAccess[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";

// Sets the event that the body waits on, through the body's own handle: in
// service mode it may have no name, and the named one is open only to
// SYSTEM and the Administrators. Does nothing when the body holds no event.
void SignalExitEvent()
{
    std::lock_guard<std::mutex> hold(exitEventLock);
    if (exitEvent != nullptr)
        SetEvent(exitEvent);
}

// Makes the exit event, named and open to SYSTEM and the Administrators only.
// Any user may make an object of that name while the service is down (and
// signal it, to stop the service at its next start): in service mode an
// object that already existed is not used, and the service runs on an event
// without a name, which nobody else can open. Console mode keeps the named
// event whoever made it.
HANDLE CreateExitEvent()
{
    LocalMemory<void> descriptor;
    SECURITY_ATTRIBUTES access{sizeof access, nullptr, FALSE};
    HANDLE named = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(kExitEventAccess, SDDL_REVISION_1, descriptor.out(),
                                                             nullptr)) {
        access.lpSecurityDescriptor = descriptor.get();
        SetLastError(ERROR_SUCCESS);
        named = CreateEventA(&access, TRUE, FALSE, kExitEventName);
    }
    const DWORD error = GetLastError();
    if (debugMode)
        return named;
    if (named != nullptr && error != ERROR_ALREADY_EXISTS)
        return named;

    if (named != nullptr || error == ERROR_INVALID_HANDLE) {
        // ERROR_INVALID_HANDLE: the name belongs to an object of another kind.
        LogMessage("Exit event %s already exists -- not used", kExitEventName);
    } else {
        SetLastError(error);
        LogMessage("Exit event %s cannot be made - %s", kExitEventName, LastErrorText());
    }
    if (named != nullptr)
        CloseHandle(named);
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

// Ends the body's hold on the exit event: sets it, gives the monitoring thread
// a bounded time to see it, and closes the event only when no thread can poll
// it any more. A thread still busy (inside a long call) keeps the event open
// until the process ends.
void ReleaseExitEvent()
{
    SetEvent(exitEvent);
    bool threadGone = true;
    if (monitorThread != nullptr) {
        threadGone = WaitForSingleObject(monitorThread, kMonitorStopWait) == WAIT_OBJECT_0;
        CloseHandle(monitorThread);
        monitorThread = nullptr;
    }
    if (threadGone) {
        std::lock_guard<std::mutex> hold(exitEventLock);
        CloseHandle(exitEvent);
        exitEvent = nullptr;
    }
}

// Reads the program's directory; false when its path cannot be read whole.
bool ReadProgramDirectory()
{
    char path[kModulePathSize];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return false;
    if (char* lastSeparator = std::strrchr(path, '\\'))
        *lastSeparator = '\0';
    return std::snprintf(programDirectory, sizeof programDirectory, "%s", path) >= 0;
}

} // namespace

void ApplyLogDirectory()
{
    char directory[kLogPathSize];
    RebuildLogPath(GetRegValue(kValueLogDir, directory, sizeof directory) != 0 ? directory : nullptr);
}

BOOL ReportStatusToSCMgr(DWORD state, DWORD exitCode, DWORD waitHint, DWORD specificCode)
{
    if (debugMode)
        return TRUE;

    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    status.dwWin32ExitCode = exitCode;
    status.dwServiceSpecificExitCode = specificCode;
    status.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : checkPoint.fetch_add(1);
    status.dwWaitHint = waitHint;
    currentState = state;

    if (!setServiceStatusCall(statusHandle, &status)) {
        LogMessage("SetServiceStatus");
        return FALSE;
    }
    return TRUE;
}

void WINAPI ServiceMain(DWORD, LPSTR*)
{
    statusHandle = RegisterServiceCtrlHandlerA(kServiceName, ServiceCtrlHandler);
    if (statusHandle == nullptr)
        return;

    DWORD stopCode = kStopStartPendingNotReported;
    if (debugMode || ReportStatusToSCMgr(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint))
        stopCode = ServiceStart(dispatchedMonitor);

    // Only a requested stop is a success: anything else must let the service
    // manager's recovery actions restart the service.
    if (!debugMode)
        ReportStatusToSCMgr(SERVICE_STOPPED, stopCode == kStopRequested ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR, 0,
                            stopCode);
}

void WINAPI ServiceCtrlHandler(DWORD control)
{
    if (control == SERVICE_CONTROL_STOP) {
        // Stop-pending goes out before the event, so the stopped report that
        // the event leads to always comes last. Its hint covers the body's
        // bounded wait for the monitoring thread: with no hint the manager and
        // its tools may judge the service hung while it waits.
        if (!debugMode)
            ReportStatusToSCMgr(SERVICE_STOP_PENDING, NO_ERROR, kStopWaitHint);
        SignalExitEvent();
        return;
    }
    ReportStatusToSCMgr(currentState, NO_ERROR, 0);
}

int RunServiceDispatcher(LPTHREAD_START_ROUTINE monitor)
{
    dispatchedMonitor = monitor;
    char serviceName[sizeof kServiceName];
    std::memcpy(serviceName, kServiceName, sizeof serviceName);
    SERVICE_TABLE_ENTRYA table[] = {
        {serviceName, ServiceMain},
        {nullptr, nullptr},
    };
    if (!StartServiceCtrlDispatcherA(table)) {
        LogMessage("%s StartServiceCtrlDispatcher failed - %s\n", kServiceDisplayName, LastErrorText());
        return 1;
    }
    return 0;
}

DWORD ServiceStart(LPTHREAD_START_ROUTINE monitor)
{
    LogMessage("ServiceStart init");

    if (!ReadProgramDirectory()) {
        LogMessage("GetModuleFileName failed");
        return kStopNoProgramPath;
    }

    ApplyLogDirectory();

    if (!debugMode && !ReportStatusToSCMgr(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint)) {
        LogMessage("ReportStatusToSCMgr #1 failed");
        return kStopReport1Failed;
    }

    HANDLE event = CreateExitEvent();
    if (event == nullptr) {
        LogMessage("CreateEvent failed");
        return kStopNoExitEvent;
    }
    {
        std::lock_guard<std::mutex> hold(exitEventLock);
        exitEvent = event;
    }

    if (WaitForSingleObject(exitEvent, 0) != WAIT_TIMEOUT) {
        LogMessage("Exit event is already signaled -- we were not shut down properly");
        ReleaseExitEvent();
        return kStopExitEventSignalled;
    }

    if (!debugMode && !ReportStatusToSCMgr(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint)) {
        LogMessage("ReportStatusToSCMgr #2 failed");
        ReleaseExitEvent();
        return kStopReport2Failed;
    }

    if (CreateKVLServiceProcess(monitor) != 0) {
        LogMessage("CreateKVLServiceProcess failed");
        ReleaseExitEvent();
        return kStopMonitorNotStarted;
    }

    if (!debugMode && !ReportStatusToSCMgr(SERVICE_RUNNING, NO_ERROR, 0)) {
        LogMessage("ReportStatusToSCMgr SERVICE_RUNNING failed");
        ReleaseExitEvent();
        return kStopRunningNotReported;
    }

    DWORD stopCode = kStopRequested;
    if (WaitForSingleObject(exitEvent, INFINITE) != WAIT_OBJECT_0) {
        LogMessage("wait for shutdown signal failed");
        stopCode = kStopWaitFailed;
    }

    ReleaseExitEvent();
    LogMessage("ServiceStart end");
    return stopCode;
}

int CreateKVLServiceProcess(LPTHREAD_START_ROUTINE monitor)
{
    if (!debugMode && !ReportStatusToSCMgr(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint)) {
        LogMessage("ReportStatusToSCMgr #3 failed");
        return kReportFailed;
    }
    // The handle is kept so that the shutdown can tell when the thread ended.
    monitorThread = CreateThread(nullptr, 0, monitor, nullptr, 0, nullptr);
    if (monitorThread == nullptr)
        return kThreadNotStarted;
    return 0;
}

BOOL WINAPI ConsoleCtrlHandler(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    LogMessage("Stopping %s.\n", kServiceDisplayName);
    SignalExitEvent();
    return TRUE;
}
