// The service program's seams, all of them in one place: process-wide hooks
// that the shipped program sets once at its entry or never, and that only the
// program's test build (KVLServiceProbe, tests/service/) and the unit tests
// change. Each replaces one platform call or one limit.
#pragma once

#include <windows.h>

struct MonitorPlatform;

// Replaces SetServiceStatus: how a status report reaches the service
// manager. KVLServiceProbe records the reports through it.
using SetServiceStatusCall = BOOL(WINAPI*)(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS);
extern SetServiceStatusCall setServiceStatusCall;

// The platform calls of the monitoring loop and of the VPN service control
// (monitor_platform.h): the Windows calls by default; KVLServiceProbe and the
// monitoring tests replace single members (the library entry, the clock).
extern MonitorPlatform monitorPlatform;

// Replaces kStopPollLimit: the polls -stop and -remove allow while the
// service shows stop-pending. KVLServiceProbe lowers it.
extern int stopPollLimit;
