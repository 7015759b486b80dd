// FerolinRun for the earlier-Windows tray tests, which run in a process of
// their own (Wine shows it Windows XP by its file name): the library is
// linked in, so its system directory can be the folder the test names.
//   tray_xp_runner -command SYSTEMFOLDER   prints "result: N", exits with N
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ferolin_entry.h"
#include "ferolin_seams.h"

namespace {

std::string systemFolder;

UINT WINAPI TestSystemDirectory(LPSTR buffer, UINT size)
{
    if (size <= systemFolder.size())
        return static_cast<UINT>(systemFolder.size() + 1);
    std::memcpy(buffer, systemFolder.c_str(), systemFolder.size() + 1);
    return static_cast<UINT>(systemFolder.size());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    systemFolder = argv[2];
    systemDirectoryCall = TestSystemDirectory;
    const int result = Ferolin(argv[1], static_cast<int>(std::strlen(argv[1])));
    std::printf("result: %d\n", result);
    std::fflush(stdout);
    return result;
}
