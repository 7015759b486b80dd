#include <windows.h>

#include <cstdio>

#include "command_line.h"
#include "provision_command.h"

int main() { return RunProvision(SplitCommandLine(GetCommandLineA()), stdout); }
