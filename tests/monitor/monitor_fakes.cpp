#include "monitor_fakes.h"

#include <cstring>

#include "settings_names.h"
#include "win_test_support.h"

FakeWorld world;

namespace {

// The loop closes what the fakes open with CloseServiceHandle, so they hand
// out real handles: the service manager, and for the VPN connection service
// one that every prefix has.
constexpr char kStandInService[] = "RpcSs";
SC_HANDLE openedManager = nullptr;
SC_HANDLE openedService = nullptr;

int __stdcall FakeFerolin(const char* command, int length)
{
    world.events.push_back(std::string("library ") + command + " " + std::to_string(length));
    const FakeAnswer* answer = nullptr;
    const char* value = kValueConfigVersion;
    if (std::strcmp(command, "-checkstatus") == 0) {
        answer = &world.checkStatus;
        value = kValueStatus;
    } else if (std::strcmp(command, "-checkconfig") == 0) {
        answer = &world.checkConfig;
    } else if (std::strcmp(command, "-checkupdate") == 0) {
        answer = &world.checkUpdate;
    }
    if (answer == nullptr)
        return 0;
    if (answer->leaves)
        SetSettingForTest(value, *answer->leaves);
    return answer->result;
}

SC_HANDLE WINAPI FakeOpenSCManager(LPCSTR, LPCSTR, DWORD)
{
    openedManager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    return openedManager;
}

SC_HANDLE WINAPI FakeOpenService(SC_HANDLE manager, LPCSTR name, DWORD)
{
    if (manager != openedManager || std::strcmp(name, "VPNKorvService") != 0 || !world.vpnInstalled) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    openedService = OpenServiceA(manager, kStandInService, SERVICE_QUERY_STATUS);
    return openedService;
}

BOOL WINAPI FakeStartService(SC_HANDLE service, DWORD count, LPCSTR* arguments)
{
    world.events.push_back("service start");
    if (service != openedService || count != 0 || arguments != nullptr || world.vpnState != SERVICE_STOPPED) {
        SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }
    world.vpnState = world.afterStart.empty() ? SERVICE_RUNNING : SERVICE_START_PENDING;
    return TRUE;
}

BOOL WINAPI FakeQueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status)
{
    if (service != openedService)
        return FALSE;
    ++world.statusQueries;
    *status = SERVICE_STATUS{};
    status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    if (world.vpnState == SERVICE_START_PENDING && !world.afterStart.empty()) {
        *status = world.afterStart.front();
        if (world.afterStart.size() > 1)
            world.afterStart.erase(world.afterStart.begin());
        world.vpnState = status->dwCurrentState;
        return TRUE;
    }
    if (world.vpnState == SERVICE_STOP_PENDING && world.stopPendingQueries >= 0 && world.stopPendingQueries-- == 0)
        world.vpnState = SERVICE_STOPPED;
    status->dwCurrentState = world.vpnState;
    return TRUE;
}

BOOL WINAPI FakeControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status)
{
    world.events.push_back("service stop");
    if (service != openedService || control != SERVICE_CONTROL_STOP || world.vpnState != SERVICE_RUNNING) {
        SetLastError(ERROR_SERVICE_NOT_ACTIVE);
        return FALSE;
    }
    world.vpnState = world.stopPendingQueries == 0 ? SERVICE_STOPPED : SERVICE_STOP_PENDING;
    *status = SERVICE_STATUS{};
    status->dwCurrentState = world.vpnState;
    return TRUE;
}

BOOL WINAPI FakeShellExecuteEx(SHELLEXECUTEINFOA* info)
{
    world.events.push_back(std::string("shell ") + (info->lpVerb ? info->lpVerb : "(none)") + " " + info->lpFile + " " +
                           (info->lpParameters ? info->lpParameters : ""));
    if (!world.shellStarts) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    // A real handle, so the caller's close is a real close.
    info->hProcess = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    return TRUE;
}

DWORD WINAPI FakeWaitForProcess(HANDLE, DWORD milliseconds)
{
    world.processWaits.push_back(milliseconds);
    world.tick += milliseconds;
    return WAIT_TIMEOUT;
}

void WINAPI FakeSleep(DWORD milliseconds)
{
    world.sleeps.push_back(milliseconds);
    world.events.push_back("sleep " + std::to_string(milliseconds));
    world.tick += milliseconds;
}

DWORD WINAPI FakeTickCount() { return world.tick; }

std::int64_t FakeClock() { return world.now; }

} // namespace

MonitorPlatform FakePlatform()
{
    world = FakeWorld{};
    return MonitorPlatform{
        FakeFerolin,        FakeOpenSCManager,  FakeOpenService,    FakeStartService, FakeQueryServiceStatus,
        FakeControlService, FakeShellExecuteEx, FakeWaitForProcess, FakeSleep,        FakeTickCount,
        FakeClock,
    };
}
