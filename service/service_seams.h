// The service program's seams, all of them in one place: process-wide hooks
// that the shipped program sets once at its entry or never, and that only the
// program's test build (KVLServiceProbe, tests/service/) and the unit tests
// change. Each replaces one platform call or one limit.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstddef>

struct MonitorPlatform;

// Replaces SetServiceStatus: how a status report reaches the service
// manager. KVLServiceProbe records the reports through it.
using SetServiceStatusCall = BOOL(WINAPI*)(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS);
extern SetServiceStatusCall setServiceStatusCall;

// The routine the service body starts as its monitoring thread. The program's
// entry sets it (MonitorThread, in the monitoring library, which imports
// Ferolin.dll), so the body and its tests build and run without the library;
// KVLServiceProbe sets a busy or recording routine. Without it no thread
// starts and the body ends at once.
extern LPTHREAD_START_ROUTINE monitorThreadRoutine;

// The platform calls of the monitoring loop and of the VPN service control
// (monitor_platform.h): the Windows calls by default; KVLServiceProbe and the
// monitoring tests replace single members (the library entry, the clock).
extern MonitorPlatform monitorPlatform;

// Replaces vsnprintf for the message part of a log line; a negative result
// means the arguments could not be applied. The log's unit tests set it to
// provoke that failure, which the C runtime never reports.
using LogFormatter = int (*)(char* buffer, std::size_t size, const char* format, va_list args);
extern LogFormatter logFormatter;

// Replaces kStopPollLimit: the polls -stop and -remove allow while the
// service shows stop-pending. KVLServiceProbe lowers it.
extern int stopPollLimit;
