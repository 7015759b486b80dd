#include "monitor_fakes.h"

#include <cstring>

#include "settings_names.h"
#include "win_test_support.h"

FakeWorld world;

namespace {

// Handles the fakes hand out: never null, never a real object.
SC_HANDLE const kManager = reinterpret_cast<SC_HANDLE>(0x1000);
SC_HANDLE const kService = reinterpret_cast<SC_HANDLE>(0x2000);

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

SC_HANDLE WINAPI FakeOpenSCManager(LPCSTR, LPCSTR, DWORD) { return kManager; }

SC_HANDLE WINAPI FakeOpenService(SC_HANDLE manager, LPCSTR name, DWORD)
{
    if (manager != kManager || std::strcmp(name, "VPNKorvService") != 0 || !world.vpnInstalled) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    return kService;
}

BOOL WINAPI FakeStartService(SC_HANDLE service, DWORD count, LPCSTR* arguments)
{
    world.events.push_back("service start");
    if (service != kService || count != 0 || arguments != nullptr || world.vpnState != SERVICE_STOPPED) {
        SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }
    world.vpnState = world.afterStart.empty() ? SERVICE_RUNNING : SERVICE_START_PENDING;
    return TRUE;
}

BOOL WINAPI FakeQueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status)
{
    if (service != kService)
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
    if (service != kService || control != SERVICE_CONTROL_STOP || world.vpnState != SERVICE_RUNNING) {
        SetLastError(ERROR_SERVICE_NOT_ACTIVE);
        return FALSE;
    }
    world.vpnState = world.stopPendingQueries == 0 ? SERVICE_STOPPED : SERVICE_STOP_PENDING;
    *status = SERVICE_STATUS{};
    status->dwCurrentState = world.vpnState;
    return TRUE;
}

BOOL WINAPI FakeCloseServiceHandle(SC_HANDLE handle) { return handle == kManager || handle == kService; }

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
        FakeFerolin,
        FakeOpenSCManager,
        FakeOpenService,
        FakeStartService,
        FakeQueryServiceStatus,
        FakeControlService,
        FakeCloseServiceHandle,
        FakeShellExecuteEx,
        FakeWaitForProcess,
        FakeSleep,
        FakeTickCount,
        FakeClock,
    };
}
