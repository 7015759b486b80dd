// The service program's limits, each named after what it bounds: buffer
// sizes first, then the waits. A reviewer checks them all here.
#pragma once

#include <windows.h>

#include <cstddef>

#include "monitor_limits.h"
#include "service_names.h"

// Longest full path of the program that is accepted, in characters.
inline constexpr DWORD kModulePathLimit = 510;
inline constexpr std::size_t kModulePathSize = kModulePathLimit + 1;
// Quote, path, quote, blank, switch and terminator.
inline constexpr std::size_t kServiceCommandLineSize = kModulePathLimit + 3 + sizeof kServiceRunSwitch;

// Text of the last Windows error, "%s (0x%x)"; a system text that leaves no
// room for the code's part counts as no text at all.
inline constexpr std::size_t kLastErrorTextSize = 256;
inline constexpr std::size_t kLastErrorCodeRoom = 14;
// One message handed to the event log.
inline constexpr std::size_t kEventTextSize = 512;

// Status reports while starting.
inline constexpr DWORD kStartWaitHint = 3000;
// -stop and -remove poll once a second and give up after this many polls
// that still show the stop pending.
inline constexpr DWORD kStopPollInterval = 1000;
inline constexpr int kStopPollLimit = 60;
// Once the exit event is set, the service body waits this long for the
// monitoring thread before it reports the stop anyway.
inline constexpr DWORD kMonitorStopWait = 5000;
// The stop-pending report's wait hint: the wait for the monitoring thread and
// room for closing the event, logging and the stopped report. One report covers
// the whole stop, so the service manager never sees a hint run out first.
inline constexpr DWORD kStopReportMargin = 2000;
inline constexpr DWORD kStopWaitHint = kMonitorStopWait + kStopReportMargin;
// Between two passes the monitoring thread waits this long on the exit event.
inline constexpr DWORD kMonitorPassInterval = 1000;

// Control of the VPN connection service, in milliseconds.
// Start-pending: each pause is a tenth of the wait hint, within these bounds.
inline constexpr DWORD kStartPendingPauseMin = 1000;
inline constexpr DWORD kStartPendingPauseMax = 5000;
// After the stop control, the stopped state is awaited this long, polled at
// this interval, before a restart starts the service again.
inline constexpr DWORD kVpnStopWait = 20000;
inline constexpr DWORD kVpnStopPollInterval = 250;
// Pause between the stop and the start of a restart.
inline constexpr DWORD kVpnRestartPause = 1000;
// Pause in the software-update check between its two library calls.
inline constexpr DWORD kUpdateSoftPause = 2000;
// The elevated "-stop" run is waited for this long.
inline constexpr DWORD kElevatedStopWait = 50000;

// Recovery settings.
inline constexpr DWORD kFailureResetPeriod = 86400; // seconds
inline constexpr DWORD kFailureActionDelay = 60000; // milliseconds
inline constexpr DWORD kFailureActionCount = 3;
