// The do-nothing service the running agent's idle cost is compared with:
// the same dispatcher, status reports and wait on a stop event as the
// agent's service body, and no work at all. Built like the service program
// (MinGW, static, the same compiler options).
//
//   kvl_idle_service            run by the service manager only
#include <windows.h>

namespace {

wchar_t serviceName[] = L"KVLBenchIdle";
SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, NO_ERROR, 0, 0, 3000};
HANDLE stopEvent = nullptr;

void Report(DWORD state)
{
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    status.dwCheckPoint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : status.dwCheckPoint + 1;
    SetServiceStatus(statusHandle, &status);
}

void WINAPI Handler(DWORD control)
{
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(stopEvent);
        return;
    }
    Report(status.dwCurrentState);
}

void WINAPI ServiceMain(DWORD, wchar_t**)
{
    statusHandle = RegisterServiceCtrlHandlerW(serviceName, Handler);
    if (statusHandle == nullptr)
        return;
    Report(SERVICE_START_PENDING);
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stopEvent != nullptr) {
        Report(SERVICE_RUNNING);
        WaitForSingleObject(stopEvent, INFINITE);
        CloseHandle(stopEvent);
    }
    Report(SERVICE_STOPPED);
}

} // namespace

int main()
{
    const SERVICE_TABLE_ENTRYW table[] = {{serviceName, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
