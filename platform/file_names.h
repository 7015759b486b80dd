// The one rule for names that arrive from the update server (configuration
// file names, each level of a subdirectory, the software package's file name).
// The server is not authenticated by default, so whoever answers may send any
// name; the service and the library act on these files as LocalSystem.
#pragma once

#include <cstddef>

// Longest name the rule accepts, in characters (the file system's limit for
// one path component).
inline constexpr std::size_t kPlainNameLimit = 255;

// 1 when `name` names a file directly inside a directory, 0 otherwise.
// Refused: null or empty; longer than kPlainNameLimit; any of < > : " / \ | ? *
// or a control character (a subdirectory, a drive, a stream, a wildcard);
// ending in a dot or a space (Windows trims them, so "a." is "a" and ".." the
// parent); a device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9) in
// any letter case, alone or before an extension ("nul.txt" is the device).
int IsPlainFileName(const char* name);
