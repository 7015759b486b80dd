// Where the library finds the Windows programs it starts (msiexec, schtasks):
// the system directory that Windows reports, by full path. A bare name would
// be searched for (CreateProcess looks in the caller's folder and the current
// directory first, the shell in the current directory and PATH), and as the
// system account that runs whatever a user placed where the search looks.
#pragma once

#include <cstddef>

// The system directory, without a trailing backslash, into `out` (capacity
// `size`). 0, with `out` emptied, when Windows gives none or it does not fit.
int SystemFolder(char* out, std::size_t size);

// SystemFolder, "\" and `program` (a file name with its extension) into `out`.
// 0, with `out` emptied, when there is no system directory or it does not fit.
int SystemProgram(char* out, std::size_t size, const char* program);
