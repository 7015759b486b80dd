// Stand-in for the VPN client's connection service "VPNKorvService" (test
// support, never shipped). It installs itself under that name and appends
// every start and stop to "vpnkorv-journal.txt" beside it:
//
//   VPNKorvStandin.exe -install [-pending MS] [-hint MS] [-checkpoints N] [-stuck-stop]
//   VPNKorvStandin.exe -remove
//
// -pending: time spent start-pending before running (default 0);
// -hint: the wait hint reported while start-pending (default 0);
// -checkpoints: how often the check point grows during that time (default 0:
// it stays at 1); -stuck-stop: a stop control leaves the service in
// stop-pending for good. The options are kept on the installed command line,
// so each install is one configuration. -remove stops the service (ending
// its process when it does not stop within 3 s) and deletes it.
//
// Journal lines: "start" when the service manager starts it, "running" once
// it reports running, "stop" when the stop control arrives, "stopped" when it
// has stopped.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "service_purge.h"
#include "standin_journal.h"
#include "win_handles.h"

namespace {

constexpr char kName[] = "VPNKorvService";
constexpr char kJournal[] = "vpnkorv-journal.txt";
constexpr DWORD kRemoveStopWaitMs = 3000;

struct Options {
    DWORD pendingMs = 0;
    DWORD waitHint = 0;
    DWORD checkPoints = 0;
    bool stuckStop = false;
};
Options options;

SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status{};
HANDLE stopEvent = nullptr;

// Reads the options after the first argument; false on an unknown one.
bool ParseOptions(int argc, char** argv)
{
    for (int i = 2; i < argc; ++i) {
        const char* name = argv[i];
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(name, "-pending") == 0 && hasValue)
            options.pendingMs = std::strtoul(argv[++i], nullptr, 10);
        else if (std::strcmp(name, "-hint") == 0 && hasValue)
            options.waitHint = std::strtoul(argv[++i], nullptr, 10);
        else if (std::strcmp(name, "-checkpoints") == 0 && hasValue)
            options.checkPoints = std::strtoul(argv[++i], nullptr, 10);
        else if (std::strcmp(name, "-stuck-stop") == 0)
            options.stuckStop = true;
        else
            return false;
    }
    return true;
}

void Report(DWORD state, DWORD checkPoint, DWORD waitHint)
{
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    SetServiceStatus(statusHandle, &status);
}

void WINAPI Handler(DWORD control)
{
    if (control != SERVICE_CONTROL_STOP) {
        SetServiceStatus(statusHandle, &status);
        return;
    }
    AppendJournal(kJournal, "stop");
    Report(SERVICE_STOP_PENDING, 1, 5000);
    if (!options.stuckStop)
        SetEvent(stopEvent);
}

void WINAPI ServiceMain(DWORD, LPSTR*)
{
    statusHandle = RegisterServiceCtrlHandlerA(kName, Handler);
    if (statusHandle == nullptr)
        return;
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    AppendJournal(kJournal, "start");

    DWORD checkPoint = 1;
    Report(SERVICE_START_PENDING, checkPoint, options.waitHint);
    const DWORD step = options.pendingMs / (options.checkPoints + 1);
    for (DWORD i = 0; i < options.checkPoints; ++i) {
        Sleep(step);
        Report(SERVICE_START_PENDING, ++checkPoint, options.waitHint);
    }
    Sleep(options.pendingMs - step * options.checkPoints);
    Report(SERVICE_RUNNING, 0, 0);
    AppendJournal(kJournal, "running");

    WaitForSingleObject(stopEvent, INFINITE);
    AppendJournal(kJournal, "stopped");
    Report(SERVICE_STOPPED, 0, 0);
}

int Install(int argc, char** argv)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return 1;
    std::string commandLine = std::string("\"") + path + "\" -service";
    for (int i = 2; i < argc; ++i)
        commandLine += std::string(" ") + argv[i];
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager)
        return 1;
    ScHandle service(CreateServiceA(manager.get(), kName, kName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                    SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr,
                                    nullptr, nullptr, nullptr));
    if (!service) {
        std::fprintf(stderr, "CreateService failed: %lu\n", GetLastError());
        return 1;
    }
    return 0;
}

int Remove() { return PurgeService(kName, kRemoveStopWaitMs) ? 0 : 1; }

} // namespace

int main(int argc, char** argv)
{
    const char* action = argc > 1 ? argv[1] : "";
    if (!ParseOptions(argc, argv)) {
        std::fprintf(stderr, "VPNKorvStandin: unknown option\n");
        return 2;
    }
    if (std::strcmp(action, "-install") == 0)
        return Install(argc, argv);
    if (std::strcmp(action, "-remove") == 0)
        return Remove();
    if (std::strcmp(action, "-service") == 0) {
        char name[sizeof kName];
        std::memcpy(name, kName, sizeof name);
        SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
        return StartServiceCtrlDispatcherA(table) ? 0 : 1;
    }
    std::fprintf(
        stderr,
        "usage: VPNKorvStandin.exe -install [-pending MS] [-hint MS] [-checkpoints N] [-stuck-stop] | -remove\n");
    return 2;
}
