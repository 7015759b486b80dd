// KVLService.exe: the Windows service program and its command line.
#include "monitor_thread.h"
#include "service_command.h"
#include "service_runtime.h"

int main(int argc, char** argv)
{
    monitorThreadRoutine = MonitorThread;
    return RunServiceProgram(argc, argv);
}
