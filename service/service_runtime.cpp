#include "service_runtime.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "service_log.h"
#include "service_registry.h"
#include "settings_names.h"
#include "win_handles.h"

bool debugMode = false;
char programDirectory[kModulePathSize];
HANDLE exitEvent = nullptr;
SetServiceStatusCall setServiceStatusCall = SetServiceStatus;
LPTHREAD_START_ROUTINE monitorThreadRoutine = nullptr;

namespace {

constexpr int kReportFailed = 4;
constexpr int kThreadNotStarted = 5;

SERVICE_STATUS_HANDLE statusHandle = nullptr;
// The control handler (main thread) and the service thread both report; the
// counter and the last state are the only status data they share.
std::atomic<DWORD> checkPoint{1};
std::atomic<DWORD> currentState{SERVICE_STOPPED};
HANDLE monitorThread = nullptr;

// Sets the exit event by name, so a handler never touches a handle that the
// service body may be closing. Does nothing when the event does not exist.
void SignalExitEvent()
{
    KernelHandle event(OpenEventA(EVENT_MODIFY_STATE, FALSE, kExitEventName));
    if (event)
        SetEvent(event.get());
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

BOOL ReportStatusToSCMgr(DWORD state, DWORD exitCode, DWORD waitHint)
{
    if (debugMode)
        return TRUE;

    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    status.dwWin32ExitCode = exitCode;
    status.dwServiceSpecificExitCode = 0;
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

    bool reported = debugMode || ReportStatusToSCMgr(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint);
    if (reported)
        ServiceStart();

    if (!debugMode)
        ReportStatusToSCMgr(SERVICE_STOPPED, NO_ERROR, 0);
}

void WINAPI ServiceCtrlHandler(DWORD control)
{
    if (control == SERVICE_CONTROL_STOP) {
        // Stop-pending goes out before the event, so the stopped report that
        // the event leads to always comes last.
        if (!debugMode)
            ReportStatusToSCMgr(SERVICE_STOP_PENDING, NO_ERROR, 0);
        SignalExitEvent();
        return;
    }
    ReportStatusToSCMgr(currentState, NO_ERROR, 0);
}

void ServiceStart()
{
    LogMessage("ServiceStart init");

    if (!ReadProgramDirectory()) {
        LogMessage("GetModuleFileName failed");
        return;
    }

    ApplyLogDirectory();

    if (!debugMode && !ReportStatusToSCMgr(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint)) {
        LogMessage("ReportStatusToSCMgr #1 failed");
        return;
    }

    exitEvent = CreateEventA(nullptr, TRUE, FALSE, kExitEventName);
    if (exitEvent == nullptr) {
        LogMessage("CreateEvent failed");
        return;
    }

    if (WaitForSingleObject(exitEvent, 0) != WAIT_TIMEOUT) {
        LogMessage("Exit event is already signaled -- we were not shut down properly");
        ReleaseExitEvent();
        return;
    }

    if (!debugMode && !ReportStatusToSCMgr(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint)) {
        LogMessage("ReportStatusToSCMgr #2 failed");
        ReleaseExitEvent();
        return;
    }

    if (CreateKVLServiceProcess() != 0) {
        LogMessage("CreateKVLServiceProcess failed");
        ReleaseExitEvent();
        return;
    }

    if (!debugMode && !ReportStatusToSCMgr(SERVICE_RUNNING, NO_ERROR, 0)) {
        LogMessage("ReportStatusToSCMgr SERVICE_RUNNING failed");
        ReleaseExitEvent();
        return;
    }

    if (WaitForSingleObject(exitEvent, INFINITE) != WAIT_OBJECT_0)
        LogMessage("wait for shutdown signal failed");

    ReleaseExitEvent();
    LogMessage("ServiceStart end");
}

int CreateKVLServiceProcess()
{
    if (!debugMode && !ReportStatusToSCMgr(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint)) {
        LogMessage("ReportStatusToSCMgr #3 failed");
        return kReportFailed;
    }
    // The handle is kept so that the shutdown can tell when the thread ended.
    monitorThread = CreateThread(nullptr, 0, monitorThreadRoutine, nullptr, 0, nullptr);
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
