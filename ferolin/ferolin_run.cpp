// FerolinRun: runs one library command by hand, the way the service does.
//
//   FerolinRun.exe -checkstatus
//
// Imports the entry from Ferolin.dll at load time, exactly as the service
// program does (the loader looks in this program's own folder first), calls it
// with the switch and prints "result: N"; the exit code is N.
#include <cstdio>
#include <cstring>

#include "ferolin_entry.h"

namespace {
constexpr int kUsageExitCode = 2;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        printf("usage: FerolinRun.exe -command   (runs one Ferolin command and prints its result)\n");
        return kUsageExitCode;
    }
    const char* command = argv[1];
    int result = Ferolin(command, static_cast<int>(strlen(command)));
    printf("result: %d\n", result);
    fflush(stdout);
    return result;
}
