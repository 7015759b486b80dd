// The service program's limits, each named after what it bounds: buffer
// sizes first, then the waits. A reviewer checks them all here.
#pragma once

#include <windows.h>

#include <cstddef>

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
// The monitoring thread looks at the exit event once per pass.
inline constexpr DWORD kMonitorPassInterval = 1000;

// Recovery settings.
inline constexpr DWORD kFailureResetPeriod = 86400;  // seconds
inline constexpr DWORD kFailureActionDelay = 60000;  // milliseconds
inline constexpr DWORD kFailureActionCount = 3;
