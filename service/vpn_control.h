// Control of the VPN client's connection: its service "VPNKorvService"
// through the service manager, and the elevated run of "Halvex -stop".
#pragma once

#include "monitor_platform.h"

// 1 when "VPNKorvService" is in the running state (pending states are not
// running), else 0. Logs nothing.
int IsVpnConnectionRunning(const MonitorPlatform& platform);

// Starts the service and waits while it reports start-pending: pauses of a
// tenth of its wait hint (1 to 5 s), for as long as its check point grows,
// and gives up once a whole wait hint has passed without growth. 1 once the
// start was issued, whatever state the service reached; 0 (logged) when the
// service manager, the service, the start or the first query failed.
int VPNStartService(const MonitorPlatform& platform);

// Sends the stop control, then waits up to 20 s for the stopped state, so a
// restart that follows does not find the service still stopping. 1 when the
// control was accepted, 0 (logged) otherwise.
int VPNStopService(const MonitorPlatform& platform);

// Runs "Halvex -stop" through the shell with the verb "runas", by its full
// path in the bin folder of `installDir`, and waits up to 50 s for it to end.
// 1 when it was started (however the wait ended), 0 when it is missing or the
// shell could not start it. Logs nothing.
int RunElevatedVPNStop(const MonitorPlatform& platform, const char* installDir);
