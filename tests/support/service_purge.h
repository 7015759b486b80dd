// Test support: takes a service out of the service manager whatever state it
// is in, for test programs whose build under test may never stop by itself.
#pragma once

#include <windows.h>

#include <cstdio>

#include "win_handles.h"

// True once `service` reports stopped (or cannot be queried any more), within
// `timeoutMs`.
inline bool WaitServiceStopped(SC_HANDLE service, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 50) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED)
            return true;
        if (waited >= timeoutMs)
            return false;
        Sleep(50);
    }
}

// Sends the stop control, waits up to `stopWaitMs` for the stopped state and
// otherwise ends the service's process, then deletes the service and waits
// (up to 15 s) until the service manager no longer knows it: the next
// install fails while the old entry is still marked for deletion. True when
// the service is gone or was never there.
inline bool PurgeService(const char* name, DWORD stopWaitMs)
{
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return false;
    ScHandle service(OpenServiceA(manager.get(), name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service)
        return true;
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    if (!WaitServiceStopped(service.get(), stopWaitMs)) {
        SERVICE_STATUS_PROCESS process{};
        DWORD needed = 0;
        if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process),
                                 sizeof process, &needed) &&
            process.dwProcessId != 0) {
            KernelHandle stuck(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process.dwProcessId));
            if (stuck) {
                std::fprintf(stderr, "ending stuck service process %lu of %s\n", process.dwProcessId, name);
                TerminateProcess(stuck.get(), 1);
                WaitForSingleObject(stuck.get(), 5000);
            }
        }
        WaitServiceStopped(service.get(), 5000);
    }
    bool deleted = DeleteService(service.get()) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
    service.reset();
    for (int i = 0; i < 300; ++i) {
        ScHandle gone(OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS));
        if (!gone)
            break;
        gone.reset();
        Sleep(50);
    }
    return deleted;
}
