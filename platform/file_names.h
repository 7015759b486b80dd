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
// parent); a device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM and LPT
// followed by 1 to 9 or by the ANSI superscripts 1, 2, 3) in any letter case,
// alone or before an extension ("nul.txt" is the device); a "~" followed by a
// digit (an 8.3 short name may alias another file or folder, "KVLSER~1.EXE");
// a name ending in ".local" (its folder redirects the DLLs of the program it
// is named after).
int IsPlainFileName(const char* name);

// 1 when `name` is a plain file name (IsPlainFileName) whose extension is not
// one that Windows loads as code or hands to a program that runs it (".dll",
// ".exe", ".ps1", ".lnk", ".manifest", ...; any letter case). For the files the
// server has placed on the workstation, which may land beside KVLService.exe.
int IsServerFileName(const char* name);

// IsServerFileName, except that the package's own kind, ".msi", is accepted:
// the software package's file name.
int IsServerPackageName(const char* name);
