// The library's command entry, exported as plain `Ferolin` (stdcall, two
// 32-bit arguments), and the Windows version it records on every call.
#pragma once

#include <windows.h>

// Refreshed at the start of every call; the tray scheduling branches on the
// major version.
extern DWORD windowsVersion;
extern DWORD windowsMajorVersion;
extern DWORD windowsMinorVersion;

// Runs the handler that `command` ("-name" or "/name", any letter case)
// selects and returns its result; 0 when `command` has no prefix or names no
// handler (the usage text is printed then). `commandLength` is not read.
extern "C" int __stdcall Ferolin(const char* command, int commandLength);
