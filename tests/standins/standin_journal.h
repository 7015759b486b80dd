// The stand-ins' journal: one line per event, appended to a file beside the
// program, so a test or a person can read what the service asked of them.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "win_handles.h"

// Full path of `name` in the program's own folder; false when it does not fit.
inline bool PathBesideProgram(const char* name, char* path, DWORD size)
{
    DWORD length = GetModuleFileNameA(nullptr, path, size);
    if (length == 0 || length >= size)
        return false;
    char* separator = std::strrchr(path, '\\');
    std::size_t folder = separator != nullptr ? static_cast<std::size_t>(separator - path + 1) : 0;
    int written = std::snprintf(path + folder, size - folder, "%s", name);
    return written > 0 && static_cast<std::size_t>(written) < size - folder;
}

// Appends `text` and a line break to the journal file `name` beside the program.
inline void AppendJournal(const char* name, const char* text)
{
    char path[MAX_PATH];
    if (!PathBesideProgram(name, path, sizeof path))
        return;
    FileHandle file(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    DWORD written = 0;
    WriteFile(file.get(), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    WriteFile(file.get(), "\n", 1, &written, nullptr);
}
