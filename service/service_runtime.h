// The body of the Windows service: status reports to the service manager,
// the start-up and shutdown sequence around the monitoring thread, and the
// control handlers of service and console mode.
#pragma once

#include <windows.h>

#include "service_limits.h"
#include "service_seams.h"

// Set by -debug before the body runs: nothing is reported to the service
// manager while it is set.
extern bool debugMode;

// Directory of the program's own executable (no trailing backslash).
extern char programDirectory[kModulePathSize];

// The exit event while the service body runs. It stays open for as long as
// the monitoring thread may still poll it. In service mode it is the named
// event only when the service made that name itself; otherwise it has no name.
extern HANDLE exitEvent;

// Why the service body ended. Anything but a requested stop reaches the
// service manager as ERROR_SERVICE_SPECIFIC_ERROR with this code, so that its
// recovery actions restart the service; each start-up stage has its own.
inline constexpr DWORD kStopRequested = 0;
inline constexpr DWORD kStopNoProgramPath = 1;
inline constexpr DWORD kStopReport1Failed = 2;
inline constexpr DWORD kStopNoExitEvent = 3;
inline constexpr DWORD kStopExitEventSignalled = 4;
inline constexpr DWORD kStopReport2Failed = 5;
inline constexpr DWORD kStopMonitorNotStarted = 6;
inline constexpr DWORD kStopRunningNotReported = 7;
inline constexpr DWORD kStopWaitFailed = 8;
inline constexpr DWORD kStopStartPendingNotReported = 9;

// Reports `state` with the given exit code and wait hint. Pending states take
// the next check point; running and stopped report 0. A nonzero
// `specificCode` goes with the exit code ERROR_SERVICE_SPECIFIC_ERROR.
// Returns nonzero on success and in debug mode, 0 (and logs
// "SetServiceStatus") on failure.
BOOL ReportStatusToSCMgr(DWORD state, DWORD exitCode, DWORD waitHint, DWORD specificCode = 0);

// Hands the process over to the service control dispatcher until the service
// has stopped; the service runs `monitor` as its monitoring thread. 0, or 1
// when the dispatcher could not be started.
int RunServiceDispatcher(LPTHREAD_START_ROUTINE monitor);

// Entry that the service control dispatcher runs on its service thread.
void WINAPI ServiceMain(DWORD argc, LPSTR* argv);

// Control handler: stop reports stop-pending and sets the exit event that
// the body waits on; any other control reports the current state again.
void WINAPI ServiceCtrlHandler(DWORD control);

// Points the log at "log_dir" when that setting can be read (260 bytes);
// otherwise the log keeps its start-up path.
void ApplyLogDirectory();

// Runs the service body, with `monitor` as its monitoring thread, until the
// exit event is set; returns why it ended (kStopRequested after a stop, a
// start-up stage's code otherwise).
DWORD ServiceStart(LPTHREAD_START_ROUTINE monitor);

// Makes start report #3 and starts `monitor` as the monitoring thread.
// Returns 0, 4 when the report failed, 5 when the thread could not be created.
int CreateKVLServiceProcess(LPTHREAD_START_ROUTINE monitor);

// Console handler under -debug: Ctrl+C and Ctrl+Break stop the body.
BOOL WINAPI ConsoleCtrlHandler(DWORD event);
