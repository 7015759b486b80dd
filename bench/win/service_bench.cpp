// Drives a service through the service manager for the idle and stop
// measurements, timing what it asks for with a fine poll (the service
// program's own -stop polls once a second).
//
//   kvl_service_bench install NAME PROGRAM   own-process, demand start
//   kvl_service_bench remove NAME            stops it (up to 15 s) and deletes it
//   kvl_service_bench start NAME MS          starts it, waits up to MS for RUNNING;
//                                            prints "pid N"
//   kvl_service_bench stop NAME MS           sends the stop control, waits up to MS
//                                            for STOPPED; prints "stop-ms X"
//   kvl_service_bench stop-bound             prints "stop-bound-ms X": how long the
//                                            service program, built from the same
//                                            tree, waits for its monitoring thread
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_clock.h"
#include "service_limits.h"
#include "win_handles.h"

namespace {

constexpr DWORD kPollMs = 2;
constexpr DWORD kRemoveStopMs = 15000;

struct ServiceHandles {
    ScHandle manager;
    ScHandle service;
};

std::wstring Wide(const char* text)
{
    std::wstring wide;
    for (const char* c = text; *c != '\0'; ++c)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return wide;
}

bool Open(ServiceHandles* handles, const char* name)
{
    handles->manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!handles->manager)
        return false;
    handles->service.reset(OpenServiceW(handles->manager.get(), Wide(name).c_str(), SERVICE_ALL_ACCESS));
    return static_cast<bool>(handles->service);
}

bool Query(SC_HANDLE service, SERVICE_STATUS_PROCESS* status)
{
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(status), sizeof *status,
                                &needed) != 0;
}

// Milliseconds until the service shows `state`, or a negative figure.
double WaitFor(SC_HANDLE service, DWORD state, DWORD timeoutMs, double since, SERVICE_STATUS_PROCESS* status)
{
    for (;;) {
        if (!Query(service, status))
            return -1;
        const double now = NowMs();
        if (status->dwCurrentState == state)
            return now - since;
        if (now - since > timeoutMs)
            return -1;
        Sleep(kPollMs);
    }
}

int Install(const char* name, const char* program)
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return 1;
    const std::wstring path = L"\"" + Wide(program) + L"\"";
    ScHandle service(CreateServiceW(manager.get(), Wide(name).c_str(), Wide(name).c_str(), SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(),
                                    nullptr, nullptr, nullptr, nullptr, nullptr));
    const DWORD error = GetLastError();
    if (!service && error != ERROR_SERVICE_EXISTS) {
        std::fprintf(stderr, "kvl_service_bench: CreateService %s failed (%lu)\n", name, error);
        return 1;
    }
    return 0;
}

int Remove(const char* name)
{
    ServiceHandles handles;
    if (!Open(&handles, name))
        return 0;
    SERVICE_STATUS_PROCESS status;
    if (Query(handles.service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
        SERVICE_STATUS plain;
        ControlService(handles.service.get(), SERVICE_CONTROL_STOP, &plain);
        WaitFor(handles.service.get(), SERVICE_STOPPED, kRemoveStopMs, NowMs(), &status);
    }
    return DeleteService(handles.service.get()) ? 0 : 1;
}

int Start(const char* name, DWORD timeoutMs)
{
    ServiceHandles handles;
    if (!Open(&handles, name))
        return 1;
    const double since = NowMs();
    if (!StartServiceW(handles.service.get(), 0, nullptr)) {
        std::fprintf(stderr, "kvl_service_bench: StartService %s failed (%lu)\n", name, GetLastError());
        return 1;
    }
    SERVICE_STATUS_PROCESS status;
    if (WaitFor(handles.service.get(), SERVICE_RUNNING, timeoutMs, since, &status) < 0) {
        std::fprintf(stderr, "kvl_service_bench: %s not running after %lu ms\n", name, timeoutMs);
        return 1;
    }
    std::printf("pid %lu\n", status.dwProcessId);
    return 0;
}

int Stop(const char* name, DWORD timeoutMs)
{
    ServiceHandles handles;
    if (!Open(&handles, name))
        return 1;
    SERVICE_STATUS plain;
    const double since = NowMs();
    if (!ControlService(handles.service.get(), SERVICE_CONTROL_STOP, &plain)) {
        std::fprintf(stderr, "kvl_service_bench: stop control to %s failed (%lu)\n", name, GetLastError());
        return 1;
    }
    SERVICE_STATUS_PROCESS status;
    const double taken = WaitFor(handles.service.get(), SERVICE_STOPPED, timeoutMs, since, &status);
    if (taken < 0) {
        std::fprintf(stderr, "kvl_service_bench: %s not stopped after %lu ms\n", name, timeoutMs);
        return 1;
    }
    std::printf("stop-ms %.1f\n", taken);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "install" && argc == 4)
        return Install(argv[2], argv[3]);
    if (verb == "remove" && argc == 3)
        return Remove(argv[2]);
    if (verb == "start" && argc == 4)
        return Start(argv[2], static_cast<DWORD>(std::atoi(argv[3])));
    if (verb == "stop" && argc == 4)
        return Stop(argv[2], static_cast<DWORD>(std::atoi(argv[3])));
    if (verb == "stop-bound" && argc == 2) {
        std::printf("stop-bound-ms %lu\n", static_cast<unsigned long>(kMonitorStopWait));
        return 0;
    }
    std::fprintf(stderr,
                 "usage: kvl_service_bench install NAME PROGRAM | remove NAME | start NAME MS | stop NAME MS | "
                 "stop-bound\n");
    return 2;
}
