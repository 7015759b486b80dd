// A user's program that keeps a file open: for the tests of files the service
// or the library must not be stopped by (or fooled by) a held file.
//   file_holder PATH SHARE [MS]   opens PATH for reading with the share mode
//                                 SHARE (a number: 0 shares nothing), writes
//                                 "held", and keeps it open until its standard
//                                 input ends, or for MS milliseconds (a
//                                 scanner's moment)
// A failed open writes "failed CODE" and exits with 1.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4)
        return 2;
    const DWORD share = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 0));
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("failed %lu\n", GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    if (argc == 4) {
        Sleep(static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)));
    } else {
        char byte = 0;
        DWORD got = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &got, nullptr) && got > 0) {
        }
    }
    CloseHandle(file);
    return 0;
}
