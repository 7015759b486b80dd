// KVLService.exe: the Windows service program and its command line.
#include "monitor_thread.h"
#include "service_command.h"

int main(int argc, char** argv) { return RunServiceProgram(argc, argv, MonitorThread); }
