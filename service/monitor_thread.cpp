#include "monitor_thread.h"

#include "monitor_pass.h"
#include "monitor_platform.h"
#include "service_limits.h"
#include "service_log.h"
#include "service_runtime.h"

DWORD WINAPI MonitorThread(LPVOID)
{
    const MonitorPlatform& platform = monitorPlatform;
    MonitorState state{};
    StartMonitor(state, platform, programDirectory, platform.clock());

    // The exit event stays open until this thread has ended (or the process
    // ends), so waiting on it here is always safe. It is tested at once
    // before the first pass; between passes the wait takes the place of a
    // pause, so a stop is seen as soon as the pass is over.
    DWORD wait = 0;
    while (WaitForSingleObject(exitEvent, wait) == WAIT_TIMEOUT) {
        RunMonitorPass(state, platform, platform.clock());
        wait = kMonitorPassInterval;
    }
    LogMessage("%s stopped", kMonitorTag);
    return 0;
}
