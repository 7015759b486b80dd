// Stand-in for the VPN client's program "Halvex" (test support, never
// shipped). Every run appends its arguments as one line to
// "halvex-journal.txt" beside it ("-stop" for the service's elevated stop).
// While a file "halvex-linger" lies beside it, it then stays for the number
// of milliseconds written in that file (60000 when it holds no number), so
// the service's 50 s wait for it runs out.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "standin_journal.h"

namespace {
constexpr DWORD kDefaultLingerMs = 60000;
}

int main(int argc, char** argv)
{
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += argv[i];
    }
    AppendJournal("halvex-journal.txt", line.c_str());

    char lingerPath[MAX_PATH];
    if (PathBesideProgram("halvex-linger", lingerPath, sizeof lingerPath)) {
        FileStream linger(std::fopen(lingerPath, "r"));
        if (linger) {
            unsigned long ms = kDefaultLingerMs;
            if (std::fscanf(linger.get(), "%lu", &ms) != 1)
                ms = kDefaultLingerMs;
            linger.reset();
            Sleep(static_cast<DWORD>(ms));
        }
    }
    return 0;
}
