// The service's monitoring thread.
#pragma once

#include <windows.h>

// First word of the monitoring thread's log lines.
inline constexpr char kMonitorTag[] = "KVLServiceThread";

// Thread routine started by the service body: prepares the loop from the
// settings key, then runs one pass a second until the exit event is set, and
// logs "KVLServiceThread stopped" and returns 0.
DWORD WINAPI MonitorThread(LPVOID argument);
