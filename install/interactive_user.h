// The account of the person at the desk, for whom the tray application is
// scheduled although the library runs under the system account: the owner
// file's first line when there is one, otherwise the account that runs the
// desktop shell.
#pragma once

#include <windows.h>

#include <cstddef>

// Reads the first line of "config_dir\owner.conf" into `buffer` (at most
// size - 1 characters), without its line break. Returns 1, or 0 when
// "config_dir" is missing, the path does not fit, the file cannot be opened
// or its first line is empty.
int ReadOwnerFile(char* buffer, std::size_t size);

// The account of the first process (in snapshot order) whose executable name
// is exactly `exeName` (case-sensitive) and that can be opened for query.
// Returns 1, or 0 when there is none or its account cannot be had.
int FindProcessUser(const char* exeName, char* buffer, std::size_t size);

// The bare account name (no domain) of the token user of `process`. Returns
// 1, or 0 when it cannot be looked up or does not fit `buffer`.
int GetProcessUserName(HANDLE process, char* buffer, std::size_t size);

// The owner file's account, else the desktop shell's ("explorer.exe").
int FindInteractiveUser(char* buffer, std::size_t size);
