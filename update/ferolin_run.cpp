// FerolinRun: runs one library command by hand, the way the service does.
//
//   FerolinRun.exe -checkstatus
//
// Loads Ferolin.dll from this program's own folder, calls its entry with the
// switch and prints "result: N"; the exit code is N.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr char kLibraryFileName[] = "Ferolin.dll";
constexpr char kEntryName[] = "Ferolin";
constexpr int kUsageExitCode = 2;
constexpr int kLoadFailedExitCode = 127;
constexpr DWORD kPathSize = MAX_PATH;

using FerolinEntry = int(__stdcall*)(const char*, int);

class Library {
public:
    explicit Library(const char* path) : module_(LoadLibraryA(path)) {}
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library()
    {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

// The library beside this program, never one found on the search path.
bool LibraryPathBesideProgram(char* path, DWORD size)
{
    DWORD length = GetModuleFileNameA(nullptr, path, size);
    if (length == 0 || length >= size)
        return false;
    char* lastSeparator = strrchr(path, '\\');
    char* folderEnd = lastSeparator != nullptr ? lastSeparator + 1 : path;
    size_t room = size - static_cast<size_t>(folderEnd - path);
    int written = snprintf(folderEnd, room, "%s", kLibraryFileName);
    return written >= 0 && static_cast<size_t>(written) < room;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        printf("usage: FerolinRun.exe -command   (runs one Ferolin command and prints its result)\n");
        return kUsageExitCode;
    }

    char path[kPathSize];
    if (!LibraryPathBesideProgram(path, sizeof path)) {
        fprintf(stderr, "FerolinRun: program path too long\n");
        return kLoadFailedExitCode;
    }
    Library library(path);
    if (library.get() == nullptr) {
        fprintf(stderr, "FerolinRun: LoadLibrary %s failed (%lu)\n", path, GetLastError());
        return kLoadFailedExitCode;
    }
    auto entry = reinterpret_cast<FerolinEntry>(reinterpret_cast<void*>(GetProcAddress(library.get(), kEntryName)));
    if (entry == nullptr) {
        fprintf(stderr, "FerolinRun: %s has no export %s (%lu)\n", path, kEntryName, GetLastError());
        return kLoadFailedExitCode;
    }

    const char* command = argv[1];
    int result = entry(command, static_cast<int>(strlen(command)));
    printf("result: %d\n", result);
    fflush(stdout);
    return result;
}
