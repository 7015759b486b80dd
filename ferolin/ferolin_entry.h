// The library's command entry, exported as plain `Ferolin` (stdcall, two
// 32-bit arguments).
#pragma once

#include <windows.h>

// Runs the handler that `command` ("-name" or "/name", any letter case)
// selects and returns its result; 0 when `command` has no prefix or names no
// handler (the usage text is printed then). `commandLength` is not read.
extern "C" int __stdcall Ferolin(const char* command, int commandLength);
