#include "server_ca_file.h"

#include <windows.h>

#include "installation_files.h"
#include "win_handles.h"

int FindServerCaFile(char* out, std::size_t size, const char* installDir)
{
    if (!FormatClientFilePath(out, size, installDir, kServerCaFileName))
        return kServerCaUnusable;
    // The same sharing as the readers that follow (the C runtime's), so a
    // file they could read is not refused here.
    FileHandle file(CreateFileA(out, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kServerCaAbsent : kServerCaUnusable;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return kServerCaUnusable;
    return kServerCaFound;
}
