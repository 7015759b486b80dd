#include "monitor_platform.h"

#include <ctime>

namespace {
std::int64_t SystemClock() { return static_cast<std::int64_t>(std::time(nullptr)); }
} // namespace

const MonitorPlatform kWindowsPlatform = {
    Ferolin,         OpenSCManagerA,      OpenServiceA, StartServiceA, QueryServiceStatus, ControlService,
    ShellExecuteExA, WaitForSingleObject, Sleep,        GetTickCount,  SystemClock,
};

MonitorPlatform monitorPlatform = kWindowsPlatform;
