#include "monitor_thread.h"

#include "service_limits.h"
#include "service_log.h"
#include "service_runtime.h"

DWORD WINAPI MonitorThread(LPVOID)
{
    // The exit event stays open until this thread has ended (or the process
    // ends), so polling it here is always safe.
    while (WaitForSingleObject(exitEvent, 0) == WAIT_TIMEOUT) {
        // One pass of monitoring work runs here, then the thread rests.
        Sleep(kMonitorPassInterval);
    }
    LogMessage("%s stopped", kMonitorTag);
    return 0;
}
