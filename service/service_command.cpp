#include "service_command.h"

#include "service_control.h"
#include "service_limits.h"
#include "service_log.h"
#include "service_report.h"
#include "service_runtime.h"
#include "switch_word.h"

namespace {

struct SwitchName {
    const char* name;
    ServiceSwitch action;
};

// Tried in this order.
constexpr SwitchName kSwitches[] = {
    {"service", ServiceSwitch::Service}, {"install", ServiceSwitch::Install}, {"config", ServiceSwitch::Config},
    {"remove", ServiceSwitch::Remove},   {"start", ServiceSwitch::Start},     {"stop", ServiceSwitch::Stop},
    {"debug", ServiceSwitch::Debug},
};

void RunInConsole(LPTHREAD_START_ROUTINE monitor)
{
    debugMode = true;
    std::printf("Debugging %s.\n", kServiceDisplayName);
    std::fflush(stdout);
    SetConsoleCtrlHandler(ConsoleCtrlHandler, TRUE);
    ServiceStart(monitor);
}

} // namespace

ServiceSwitch ParseSwitch(const char* argument)
{
    const char* word = SwitchWord(argument);
    if (word == nullptr)
        return ServiceSwitch::None;
    for (const SwitchName& entry : kSwitches) {
        if (IsSwitchNamed(word, entry.name))
            return entry.action;
    }
    return ServiceSwitch::Unknown;
}

void PrintUsage(std::FILE* out)
{
    std::fprintf(out, "%s -install          to install the service\n", kServiceName);
    std::fprintf(out, "%s -start\t\t\t to start the service\n", kServiceName);
    std::fprintf(out, "%s -remove           to remove the service\n", kServiceName);
    std::fprintf(out, "%s -debug <params>   to run as a console app for debugging\n", kServiceName);
    std::fprintf(out, "%s -service          to initialize StartServiceCtrlDispatcher\n", kServiceName);
    std::fputs("This may take several seconds.  Please wait.\n", out);
}

int RunServiceProgram(int argc, char** argv, LPTHREAD_START_ROUTINE monitor)
{
    ResetLogPath();

    switch (ParseSwitch(argc > 1 ? argv[1] : nullptr)) {
    case ServiceSwitch::None:
        return 0;
    case ServiceSwitch::Service:
        ReportMonitorEvent("service*: %d", RunServiceDispatcher(monitor));
        return 0;
    case ServiceSwitch::Install:
        ReportMonitorEvent("install*: %d", InstallKVLService());
        return 0;
    case ServiceSwitch::Config:
        LogMessage("config*: %d", ConfigureKVLService());
        return 0;
    case ServiceSwitch::Remove:
        ReportMonitorEvent("remove*: %d", RemoveKVLService());
        return 0;
    case ServiceSwitch::Start: {
        int result = StartKVLService();
        LogMessage("start: %d", result);
        return result;
    }
    case ServiceSwitch::Stop: {
        int result = StopKVLService();
        LogMessage("stop: %d", result);
        return result;
    }
    case ServiceSwitch::Debug:
        RunInConsole(monitor);
        return 0;
    case ServiceSwitch::Unknown:
        PrintUsage(stdout);
        return 0;
    }
    return 0;
}
