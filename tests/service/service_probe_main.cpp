// Test build of the service program: the shipped body with four seams set.
// Every status report is appended to "probe-status.txt" beside the program
// (a file of its own, so it never contends with the service log), the stop
// polls of -stop and -remove give up after 3 s, the monitoring thread notes
// its start in "probe-monitor.txt" and stays busy for good while a file
// "probe-block-monitor" exists beside the program, and the monitoring loop's
// library calls fail at once, each noted in "probe-monitor.txt" (no server
// is asked: these cases are about the service's own life, not its checks).
// While a file "probe-fail-start" exists, the body's first own start report
// fails, so the service cannot start.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "monitor_platform.h"
#include "monitor_thread.h"
#include "service_command.h"
#include "service_control.h"
#include "service_runtime.h"

namespace {

constexpr int kProbeStopPollLimit = 3;
char probeDirectory[MAX_PATH];

bool ProbeFile(const char* name, char* path, std::size_t size)
{
    int written = std::snprintf(path, size, "%s\\%s", probeDirectory, name);
    return written > 0 && static_cast<std::size_t>(written) < size;
}

void AppendLine(const char* name, const char* text)
{
    char path[MAX_PATH];
    if (!ProbeFile(name, path, sizeof path))
        return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    CloseHandle(file);
}

bool ProbeFileExists(const char* name)
{
    char path[MAX_PATH];
    return ProbeFile(name, path, sizeof path) && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

BOOL WINAPI RecordingSetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status)
{
    constexpr DWORD kBodysFirstReport = 2;
    if (status->dwCurrentState == SERVICE_START_PENDING && status->dwCheckPoint == kBodysFirstReport &&
        ProbeFileExists("probe-fail-start")) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    char line[160];
    std::snprintf(line, sizeof line, "state=%lu checkpoint=%lu wait=%lu accept=%lu exit=%lu\n", status->dwCurrentState,
                  status->dwCheckPoint, status->dwWaitHint, status->dwControlsAccepted, status->dwWin32ExitCode);
    AppendLine("probe-status.txt", line);
    return SetServiceStatus(handle, status);
}

int __stdcall UnreachableLibrary(const char* command, int)
{
    char line[64];
    std::snprintf(line, sizeof line, "check %s\n", command);
    AppendLine("probe-monitor.txt", line);
    constexpr int kCheckFailed = 4;
    return kCheckFailed;
}

DWORD WINAPI ProbeMonitorThread(LPVOID argument)
{
    AppendLine("probe-monitor.txt", "started\n");
    if (ProbeFileExists("probe-block-monitor")) {
        AppendLine("probe-monitor.txt", "blocked\n");
        Sleep(INFINITE);
    }
    return MonitorThread(argument);
}

} // namespace

int main(int argc, char** argv)
{
    DWORD length = GetModuleFileNameA(nullptr, probeDirectory, sizeof probeDirectory);
    if (length == 0 || length >= sizeof probeDirectory)
        return 99;
    if (char* separator = std::strrchr(probeDirectory, '\\'))
        *separator = '\0';

    setServiceStatusCall = RecordingSetServiceStatus;
    monitorPlatform.ferolin = UnreachableLibrary;
    stopPollLimit = kProbeStopPollLimit;
    return RunServiceProgram(argc, argv, ProbeMonitorThread);
}
