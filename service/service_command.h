// The program's command line: which action the first argument selects, the
// usage text, and the program entry shared by the shipped program and its
// test build.
#pragma once

#include <windows.h>

#include <cstdio>

enum class ServiceSwitch {
    None, // no argument, or one without a "-" or "/" prefix
    Service,
    Install,
    Config,
    Remove,
    Start,
    Stop,
    Debug,
    Unknown, // a prefix with any other name
};

// Classifies the first argument (null when there is none).
ServiceSwitch ParseSwitch(const char* argument);

// Writes the six usage lines to `out`.
void PrintUsage(std::FILE* out);

// Runs the action of argv[1] and returns the process exit code. The service
// and -debug run `monitor` as the monitoring thread: the shipped program's
// MonitorThread (which imports Ferolin.dll), or a test build's own routine.
int RunServiceProgram(int argc, char** argv, LPTHREAD_START_ROUTINE monitor);
