// FerolinRun for the earlier-Windows tray tests (Wine shows this process
// Windows XP by its file name), with the library linked in so that its system
// directory can be the folder the test names.
//   tray_xp_runner -command SYSTEMFOLDER   exits with the command's result
#include <windows.h>

#include <cstring>

#include "ferolin_entry.h"
#include "ferolin_seams.h"

namespace {
const char* systemFolder = "";
UINT WINAPI TestSystemDirectory(LPSTR buffer, UINT size)
{
    const UINT length = static_cast<UINT>(std::strlen(systemFolder));
    if (size <= length)
        return length + 1;
    std::memcpy(buffer, systemFolder, length + 1);
    return length;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    systemFolder = argv[2];
    systemDirectoryCall = TestSystemDirectory;
    return Ferolin(argv[1], static_cast<int>(std::strlen(argv[1])));
}
