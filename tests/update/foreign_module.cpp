// A DLL that a hostile OpenSSL configuration names as a provider module. It
// does nothing but leave a note, naming the program that loaded it, the
// moment any process loads it.
#include <windows.h>

#include "foreign_module.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char program[MAX_PATH] = "?";
    GetModuleFileNameA(nullptr, program, sizeof program);
    HANDLE note = CreateFileA(kForeignModuleNote, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (note != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(note, program, static_cast<DWORD>(lstrlenA(program)), &written, nullptr);
        WriteFile(note, "\r\n", 2, &written, nullptr);
        CloseHandle(note);
    }
    return TRUE;
}
