// Registry helpers shared by the library's and the service program's access
// routines: one bounded and type-checked read of a
// REG_SZ value, and the write of a text with its terminator.
#pragma once

#include <windows.h>

#include "win_handles.h"

// Queries `name` under the open key into `buffer` (capacity `size`). Returns
// the byte count stored with its terminator, or 0 when the value is missing,
// not REG_SZ, or does not fit with its terminator. Never reads or writes past
// `buffer`; the result, when non-zero, is always a terminated text.
DWORD QueryRegText(HKEY key, const char* name, char* buffer, DWORD size);

// Stores `text` as REG_SZ with its terminating NUL (strlen + 1 bytes).
LONG SetRegText(HKEY key, const char* name, const char* text);
