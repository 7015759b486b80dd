// The service program's access to the settings key (32-bit view).
#pragma once

#include <windows.h>

// Reads the REG_SZ value `name` into `buffer` (capacity `size` bytes). Returns
// the bytes stored with the terminator (1 for an empty text), or 0 when the
// value cannot be read; each failure is logged.
int GetRegValue(const char* name, char* buffer, DWORD size);

// Writes `text` as the REG_SZ value `name`, creating the settings key when it
// cannot be opened. Returns 1, or 0 on failure.
int SetRegValue(const char* text, const char* name);
