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
// the monitoring thread may still poll it.
extern HANDLE exitEvent;

// Reports `state` with the given exit code and wait hint. Pending states take
// the next check point; running and stopped report 0. Returns nonzero on
// success and in debug mode, 0 (and logs "SetServiceStatus") on failure.
BOOL ReportStatusToSCMgr(DWORD state, DWORD exitCode, DWORD waitHint);

// Entry that the service control dispatcher runs on its service thread.
void WINAPI ServiceMain(DWORD argc, LPSTR* argv);

// Control handler: stop reports stop-pending and sets the exit event; any
// other control reports the current state again.
void WINAPI ServiceCtrlHandler(DWORD control);

// Points the log at "log_dir" when that setting can be read (260 bytes);
// otherwise the log keeps its start-up path.
void ApplyLogDirectory();

// Runs the service body until the exit event is set.
void ServiceStart();

// Makes start report #3 and starts the monitoring thread. Returns 0, 4 when
// the report failed, 5 when the thread could not be created.
int CreateKVLServiceProcess();

// Console handler under -debug: Ctrl+C and Ctrl+Break stop the body.
BOOL WINAPI ConsoleCtrlHandler(DWORD event);
