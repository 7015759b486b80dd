#include "system_programs.h"

#include <windows.h>

#include "bounded_format.h"
#include "ferolin_seams.h"

SystemDirectoryCall systemDirectoryCall = GetSystemDirectoryA;

int SystemFolder(char* out, std::size_t size)
{
    if (size == 0)
        return 0;
    out[0] = '\0';
    const UINT length = systemDirectoryCall(out, static_cast<UINT>(size));
    // Too small a buffer gives the size it needs, terminator included.
    if (length == 0 || length >= size) {
        out[0] = '\0';
        return 0;
    }
    if (out[length - 1] == '\\')
        out[length - 1] = '\0';
    return 1;
}

int SystemProgram(char* out, std::size_t size, const char* program)
{
    char folder[MAX_PATH];
    if (!SystemFolder(folder, sizeof folder)) {
        if (size > 0)
            out[0] = '\0';
        return 0;
    }
    return FormatWhole(out, size, "%s\\%s", folder, program);
}
